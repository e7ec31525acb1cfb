#!/bin/bash
# The lab: a label-aware web server built from real parts on 127.0.0.1.
# Apache httpd gates one folder per object label with HTTP Basic and with
# Negotiate against an MIT KDC of its own, for reading and (WebDAV) for
# writing; every file lives in DIR.
#
#   lab.sh up DIR     build DIR, start krb5kdc and apache2, write DIR/lab.env
#   lab.sh down DIR   stop what `up` started in DIR (safe to repeat)
#
# Every area is served over plain HTTP and, on a second port, over HTTPS with
# a certificate for 127.0.0.1 and localhost that the lab's own CA signs
# (DIR/ca.pem).
#
# Env for `up`: TAV_PCAPS (CGI program to serve, optional), LAB_FIX_BAD=1
# (the misconfigured areas list only dominating readers and equal writers), LAB_HTTPD_INCLUDE
# (an Apache config file included last, for experiments).
set -euo pipefail
umask 022

REALM=TAV.LAB
USERS=(nobody daemon bin sys games)
declare -A LABEL=([nobody]=0:0 [daemon]=1:1 [bin]=2:3 [sys]=3:7 [games]=2:2)
MIN_LABEL=0:0
MAX_LABEL=3:7
AREAS=(l0_0 l1_1 l2_3 l3_7 open bad_3_7)
declare -A AREA_LABEL=([l0_0]=0:0 [l1_1]=1:1 [l2_3]=2:3 [l3_7]=3:7 [open]=3:7 [bad_3_7]=3:7)
# bad_3_7 also admits this user although 1:1 does not dominate 3:7.
BAD_EXTRA=daemon
# Every area also takes PUT and DELETE (WebDAV) from the users whose label
# equals its own (open: from every valid user); this area also from this
# user, whose higher label makes that a write down.
BAD_WRITE_AREA=l0_0
BAD_WRITE_EXTRA=sys
CAPS_STANDIN="43c 43c 43c"

die() { echo "lab.sh: $*" >&2; exit 1; }

# die_log LOG MESSAGE: dies with the end of LOG, which a failed `up` removes
# with the rest of the folder.
die_log() {
  local log=$1
  shift
  {
    echo "lab.sh: $*; the end of $(basename "$log"):"
    tail -n 20 "$log" 2>/dev/null | sed 's/^/  /'
  } >&2
  exit 1
}

# True when label $1 dominates label $2: level not lower, every category held.
dominates() {
  local sl=${1%%:*} sc=${1#*:} ol=${2%%:*} oc=${2#*:}
  (( sl >= ol && ((16#$sc) & (16#$oc)) == 16#$oc ))
}

# Users that area $1 admits, as configured (not as the labels say).
allowed_users() {
  local area=$1 u out=()
  for u in "${USERS[@]}"; do
    if [[ $area == open ]] || dominates "${LABEL[$u]}" "${AREA_LABEL[$area]}" ||
       [[ $area == bad_3_7 && $u == "$BAD_EXTRA" && ${LAB_FIX_BAD:-0} != 1 ]]; then
      out+=("$u")
    fi
  done
  echo "${out[*]}"
}

# Users that may write into area $1, as configured.
writing_users() {
  local area=$1 u out=()
  for u in "${USERS[@]}"; do
    if [[ $area == open || ${LABEL[$u]} == "${AREA_LABEL[$area]}" ]] ||
       [[ $area == "$BAD_WRITE_AREA" && $u == "$BAD_WRITE_EXTRA" && ${LAB_FIX_BAD:-0} != 1 ]]; then
      out+=("$u")
    fi
  done
  echo "${out[*]}"
}

# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/servers.sh"

# A pid counts as ours only while its command line names this lab's folder.
is_ours() { cmdline_names "$DIR" "$1"; }

stop_pidfile() {  # stop_pidfile FILE: stops the recorded process and its group, if ours
  local file=$1
  [[ -r $file ]] || return 0
  # A process that does not stop keeps its file, so another `down` can retry.
  stop_group "$(<"$file")" is_ours || return 1
  rm -f "$file"
}

lab_down() {
  local rc=0
  stop_pidfile "$DIR/run/apache.pid" || rc=1
  stop_pidfile "$DIR/run/kdc.pid" || rc=1
  return "$rc"
}

# After a failed `up`: stops what it started and removes what it created, so
# the next `up` on the folder works. A process that does not stop keeps the
# folder and its pid file for `down`.
up_failed() {
  if ! lab_down; then
    echo "lab.sh: a server of the failed up does not stop; run lab.sh down $DIR" >&2
    return
  fi
  if [[ -n $CREATED ]]; then
    rm -rf -- "$CREATED"
  else
    find "$DIR" -mindepth 1 -delete
  fi
}

write_krb5_conf() {
  cat >"$DIR/krb5.conf" <<EOF
[libdefaults]
  default_realm = $REALM
  rdns = false
  dns_canonicalize_hostname = false
  dns_lookup_kdc = false
  dns_lookup_realm = false
  forwardable = true
[realms]
  $REALM = {
    kdc = 127.0.0.1:$KDC_PORT
  }
[domain_realm]
  localhost = $REALM
  127.0.0.1 = $REALM
EOF
  cat >"$DIR/kdc.conf" <<EOF
[kdcdefaults]
  kdc_listen = 127.0.0.1:$KDC_PORT
  kdc_tcp_listen = 127.0.0.1:$KDC_PORT
[realms]
  $REALM = {
    database_name = $DIR/kdc/principal
    key_stash_file = $DIR/kdc/stash
    max_life = 1d
  }
[logging]
  kdc = FILE:$DIR/logs/kdc.log
EOF
}

make_kdc() {
  local master u
  master=$(random_hex 16)
  printf '%s\n%s\n' "$master" "$master" |
    kdb5_util create -s -r "$REALM" >"$DIR/logs/kdb5_util.log" 2>&1 ||
    die_log "$DIR/logs/kdb5_util.log" "kdb5_util create failed"
  {
    for u in "${USERS[@]}"; do echo "addprinc -pw ${PASSWORD[$u]} $u"; done
    echo "addprinc -randkey HTTP/localhost"
    echo "addprinc -randkey HTTP/127.0.0.1"
    echo "ktadd -k $DIR/http.keytab HTTP/localhost HTTP/127.0.0.1"
  } | kadmin.local -r "$REALM" >"$DIR/logs/kadmin.log" 2>&1 ||
    die_log "$DIR/logs/kadmin.log" "kadmin.local failed"
  [[ -s $DIR/http.keytab ]] || die_log "$DIR/logs/kadmin.log" "no keytab"
  chown root:www-data "$DIR/http.keytab"
  chmod 0640 "$DIR/http.keytab"
}

start_kdc() {
  local try
  for try in 1 2 3; do
    ((try == 1)) || KDC_PORT=$(free_ports udp)
    write_krb5_conf
    if krb5kdc -r "$REALM" -P "$DIR/run/kdc.pid" >>"$DIR/logs/krb5kdc.out" 2>&1; then
      return 0
    fi
    stop_pidfile "$DIR/run/kdc.pid"
  done
  die_log "$DIR/logs/kdc.log" "krb5kdc does not start"
}

get_tickets() {
  local u
  for u in "${USERS[@]}"; do
    echo "${PASSWORD[$u]}" | kinit -c "FILE:$DIR/ccache/$u" "$u@$REALM" \
      >>"$DIR/logs/kinit.log" 2>&1 || die_log "$DIR/logs/kinit.log" "kinit $u failed"
    # The task user must own its cache: libkrb5 mishandles one it cannot read.
    chown "$u:$(id -gn "$u")" "$DIR/ccache/$u"
    chmod 0600 "$DIR/ccache/$u"
  done
}

write_site() {
  local area u
  for area in "${AREAS[@]}"; do
    mkdir -p "$DIR/www/$area"
    printf '<!DOCTYPE html>\n<html><head><title>tav lab %s</title></head>\n<body><p>object label %s</p></body></html>\n' \
      "$area" "${AREA_LABEL[$area]}" >"$DIR/www/$area/index.html"
    # WebDAV writes as the workers' user.
    chown www-data:www-data "$DIR/www/$area"
  done
  : >"$DIR/conf/htpasswd"
  for u in "${USERS[@]}"; do
    # -m (apr1 MD5): cheap to check, and Apache's file provider reads it.
    echo "${PASSWORD[$u]}" | htpasswd -i -m "$DIR/conf/htpasswd" "$u" 2>/dev/null ||
      die "htpasswd failed for $u"
  done
  chown root:www-data "$DIR/conf/htpasswd"
  chmod 0640 "$DIR/conf/htpasswd"
}

# A CA of the lab's own and a certificate it signs for 127.0.0.1 and
# localhost, the two hosts a lab URL may name. P-256 keys take milliseconds
# to make. The keys stay in DIR/tls, root's alone: Apache reads its key as
# root before the workers start.
make_tls() {
  install -d -m 0700 "$DIR/tls"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -noenc -days 30 \
    -subj "/CN=tav lab CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$DIR/tls/ca.key" -out "$DIR/tls/ca.pem" >"$DIR/logs/openssl.log" 2>&1 &&
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -noenc -days 30 \
      -subj /CN=127.0.0.1 -CA "$DIR/tls/ca.pem" -CAkey "$DIR/tls/ca.key" \
      -addext subjectAltName=IP:127.0.0.1,DNS:localhost \
      -addext basicConstraints=critical,CA:FALSE -addext extendedKeyUsage=serverAuth \
      -keyout "$DIR/tls/server.key" -out "$DIR/tls/server.pem" >>"$DIR/logs/openssl.log" 2>&1 ||
    die "openssl failed, see $DIR/logs/openssl.log"
  chmod 0600 "$DIR/tls/ca.key" "$DIR/tls/server.key"
  install -m 0644 "$DIR/tls/ca.pem" "$DIR/ca.pem"
}

# The HTTPS side of httpd.conf: the main server's areas again, in a virtual
# host on the second port.
httpd_tls_conf() {
  cat <<EOF
Listen 127.0.0.1:$HTTPS_PORT
<VirtualHost 127.0.0.1:$HTTPS_PORT>
  ServerName 127.0.0.1
  SSLEngine on
  SSLCertificateFile "$DIR/tls/server.pem"
  SSLCertificateKeyFile "$DIR/tls/server.key"
</VirtualHost>
EOF
}

write_httpd_conf() {
  local m area users gss_users writers gss_writers u conf=$DIR/conf/httpd.conf
  {
    cat <<EOF
ServerRoot "$DIR"
ServerName 127.0.0.1
Listen 127.0.0.1:$HTTP_PORT
User www-data
Group www-data
PidFile "$DIR/run/httpd.pid"
DefaultRuntimeDir "$DIR/run"
ErrorLog "$DIR/logs/error.log"
LogLevel warn
EOF
    for m in mpm_prefork authz_core authz_user authn_core authn_file auth_basic \
      auth_gssapi alias dir mime env cgi ssl dav dav_fs; do
      echo "LoadModule ${m}_module /usr/lib/apache2/modules/mod_$m.so"
    done
    cat <<EOF
StartServers 2
MinSpareServers 2
MaxSpareServers 4
MaxRequestWorkers 32
TypesConfig /dev/null
AddType text/html .html
DirectoryIndex index.html
LogFormat "%h %u \"%r\" %>s %b" lab
CustomLog "$DIR/logs/access.log" lab
DavLockDB "$DIR/davlock/lockdb"

# Nothing is served unless an area below says who may read it.
<Directory />
  AllowOverride None
  Options None
  Require all denied
</Directory>
DocumentRoot "$DIR/www"

<LocationMatch "^/(basic|cgi)(/|\$)">
  AuthType Basic
  AuthName "tav lab"
  AuthBasicProvider file
  AuthUserFile "$DIR/conf/htpasswd"
  # An authenticated user outside the list gets 403, not another 401.
  AuthzSendForbiddenOnFailure On
</LocationMatch>
<Location /gss>
  AuthType GSSAPI
  AuthName "tav lab"
  GssapiCredStore keytab:$DIR/http.keytab
  GssapiAllowedMech krb5
  GssapiBasicAuth Off
  GssapiDelegCcacheDir $DIR/deleg
  AuthzSendForbiddenOnFailure On
</Location>
EOF
    if [[ -n $PCAPS ]]; then
      cat <<EOF
# Script aliases come first: the first matching alias wins.
ScriptAlias /cgi/pcaps "$PCAPS"
ScriptAlias /gss/cgi/pcaps "$PCAPS"
<LocationMatch "^(/gss)?/cgi/pcaps\$">
  Require valid-user
  SetEnv KORVAL_STANDIN_CAPS "$CAPS_STANDIN"
  SetEnv LD_LIBRARY_PATH "$DIR/cgi/lib"
</LocationMatch>
EOF
    fi
    echo "Alias /basic/ \"$DIR/www/\""
    echo "Alias /gss/ \"$DIR/www/\""
    for area in "${AREAS[@]}"; do
      users=$(allowed_users "$area")
      writers=$(writing_users "$area")
      gss_users="" gss_writers=""
      for u in $users; do gss_users+=" $u@$REALM"; done
      for u in $writers; do gss_writers+=" $u@$REALM"; done
      if [[ $area == open ]]; then
        users=valid-user gss_users=valid-user writers=valid-user gss_writers=valid-user
      else
        users="user $users" gss_users="user$gss_users"
        writers="user $writers" gss_writers="user$gss_writers"
      fi
      # Reads by the readers, PUT and DELETE by the writers, every other method
      # (MKCOL, MOVE, COPY, PROPPATCH, ...) by nobody.
      printf '<Location /basic/%s>\n  Dav On\n  <Limit GET OPTIONS>\n    Require %s\n  </Limit>\n  <Limit PUT DELETE>\n    Require %s\n  </Limit>\n  <LimitExcept GET OPTIONS PUT DELETE>\n    Require all denied\n  </LimitExcept>\n</Location>\n' \
        "$area" "$users" "$writers"
      printf '<Location /gss/%s>\n  Dav On\n  <Limit GET OPTIONS>\n    Require %s\n  </Limit>\n  <Limit PUT DELETE>\n    Require %s\n  </Limit>\n  <LimitExcept GET OPTIONS PUT DELETE>\n    Require all denied\n  </LimitExcept>\n</Location>\n' \
        "$area" "$gss_users" "$gss_writers"
    done
    httpd_tls_conf
    if [[ -n ${LAB_HTTPD_INCLUDE:-} ]]; then echo "Include \"$LAB_HTTPD_INCLUDE\""; fi
  } >"$conf"
}

start_httpd() {
  local try
  for try in 1 2 3; do
    ((try == 1)) || read -r HTTP_PORT HTTPS_PORT <<<"$(free_ports tcp tcp)"
    write_httpd_conf
    /usr/sbin/apache2 -t -f "$DIR/conf/httpd.conf" >"$DIR/logs/configtest.log" 2>&1 ||
      die_log "$DIR/logs/configtest.log" "apache2 rejects its config"
    if start_polled "$DIR/run/apache.pid" "$HTTP_PORT" "$DIR/logs/apache.out" \
      KRB5_CONFIG="$DIR/krb5.conf" KRB5RCACHEDIR="$DIR/rcache" \
      /usr/sbin/apache2 -f "$DIR/conf/httpd.conf" -DFOREGROUND; then
      return 0
    fi
    stop_pidfile "$DIR/run/apache.pid"
  done
  die_log "$DIR/logs/error.log" "apache2 does not start"
}

# Serves a copy of the CGI program, with the libraries it loads from outside
# the system's folders, from DIR/cgi: a build tree under a private home (a
# checkout in root's 0700 /root) is out of the workers' reach.
install_cgi() {
  local lib
  install -d "$DIR/cgi" "$DIR/cgi/lib"
  install -m 0755 "$PCAPS" "$DIR/cgi/tav-pcaps"
  while read -r lib; do
    case $lib in
      /lib/* | /lib64/* | /usr/lib/* | /usr/lib64/*) ;;
      *) install -m 0644 "$lib" "$DIR/cgi/lib/" ;;
    esac
  done < <(ldd "$PCAPS" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }')
  PCAPS=$DIR/cgi/tav-pcaps
}

write_lab_files() {
  local u area args=() env=$DIR/lab.env
  {
    echo "LAB_DIR=$DIR"
    echo "LAB_HTTP_PORT=$HTTP_PORT"
    echo "LAB_BASE_URL=http://127.0.0.1:$HTTP_PORT"
    echo "LAB_HTTPS_PORT=$HTTPS_PORT"
    echo "LAB_HTTPS_BASE_URL=https://127.0.0.1:$HTTPS_PORT"
    echo "LAB_CA=$DIR/ca.pem"
    echo "LAB_REALM=$REALM"
    echo "LAB_KDC_PORT=$KDC_PORT"
    echo "LAB_KRB5_CONFIG=$DIR/krb5.conf"
    echo "LAB_PCAPS=$PCAPS"
    echo "LAB_FIX_BAD=${LAB_FIX_BAD:-0}"
    echo "LAB_JSON=$DIR/lab.json"
    echo "LAB_SUITE=$DIR/suite.json"
    echo "LAB_SUITE_HTTPS=$DIR/suite-https.json"
    echo "LAB_SUITE_WRITE=$DIR/suite-write.json"
    echo "LAB_USERS=\"${USERS[*]}\""
    for u in "${USERS[@]}"; do
      echo "LAB_LABEL_$u=${LABEL[$u]}"
      echo "LAB_PASSWORD_$u=${PASSWORD[$u]}"
      echo "LAB_CCACHE_$u=FILE:$DIR/ccache/$u"
    done
  } >"$env"
  for u in "${USERS[@]}"; do
    args+=("$u" "$(id -u "$u")" "$(id -g "$u")" "${LABEL[$u]}" "${PASSWORD[$u]}")
  done
  for area in "${AREAS[@]}"; do
    args+=("$area" "${AREA_LABEL[$area]}" "$([[ $area == open ]] && echo true || echo false)"
      "$(allowed_users "$area")" "$(writing_users "$area")")
  done
  # lab.json describes the lab; suite.json is the same lab as input of `tav-suite gen`, and
  # suite-https.json the same over HTTPS.
  /usr/bin/python3 - "$DIR" "http://127.0.0.1:$HTTP_PORT" "https://127.0.0.1:$HTTPS_PORT" \
    "$REALM" "$PCAPS" \
    "$([[ ${LAB_FIX_BAD:-0} == 1 ]] && echo true || echo false)" "$MIN_LABEL" "$MAX_LABEL" \
    "${#USERS[@]}" "${args[@]}" <<'EOF'
import json, sys
(lab_dir, base_url, https_base_url, realm, pcaps, fix_bad, min_label, max_label, count), rest = \
    sys.argv[1:10], sys.argv[10:]
n = 5 * int(count)
if len(rest) < n or (len(rest) - n) % 5:
    sys.exit("lab.sh: write_lab_files got malformed arguments")
krb5_config = f"{lab_dir}/krb5.conf"
users = [{"name": name, "uid": int(uid), "gid": int(gid), "label": label,
          "min_label": min_label, "max_label": max_label, "password": password,
          "principal": f"{name}@{realm}", "ccache": f"FILE:{lab_dir}/ccache/{name}"}
         for name, uid, gid, label, password in (rest[i:i + 5] for i in range(0, n, 5))]
areas = [{"name": name, "label": label, "ignore_mac_label": ignore == "true",
          "basic_path": f"/basic/{name}/", "gssapi_path": f"/gss/{name}/",
          "allowed": allowed.split(), "writers": writers.split()}
         for name, label, ignore, allowed, writers in (rest[i:i + 5] for i in range(n, len(rest), 5))]
lab = {"dir": lab_dir, "base_url": base_url, "https_base_url": https_base_url,
       "ca_file": f"{lab_dir}/ca.pem", "realm": realm, "krb5_config": krb5_config,
       "pcaps": pcaps, "fix_bad": fix_bad == "true", "users": users, "areas": areas}
suite = {"base_url": base_url,
         "auth_types": ["basic", "gssapi"],
         "users": [{"name": u["name"], "password": u["password"], "labels": [u["label"]],
                    "min_label": u["min_label"], "max_label": u["max_label"],
                    "env": {"KRB5CCNAME": u["ccache"], "KRB5_CONFIG": krb5_config}}
                   for u in users],
         "objects": [{"name": a["name"], "label": a["label"],
                      "ignore_mac_label": a["ignore_mac_label"],
                      "paths": {"basic": a["basic_path"], "gssapi": a["gssapi_path"]}}
                     for a in areas],
         "report": {"check_body": True,
                    "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
                    "allowed_codes": [200], "denied_codes": [401, 403]}}
suite_https = dict(suite, base_url=https_base_url)
suite_write = dict(suite, objects=[dict(o, write=True) for o in suite["objects"]])
for name, doc in (("lab.json", lab), ("suite.json", suite), ("suite-https.json", suite_https),
                  ("suite-write.json", suite_write)):
    with open(f"{lab_dir}/{name}", "w", encoding="utf-8") as f:
        json.dump(doc, f, indent=2)
        f.write("\n")
EOF
}

lab_up() {
  local u
  [[ -z ${TAV_PCAPS:-} || (-f $TAV_PCAPS && -x $TAV_PCAPS) ]] ||
    die "TAV_PCAPS is not an executable file: $TAV_PCAPS"
  PCAPS=${TAV_PCAPS:+$(realpath "$TAV_PCAPS")}
  # Paths go unescaped into httpd.conf.
  [[ -z $PCAPS || $PCAPS =~ ^/[A-Za-z0-9._/+-]+$ ]] || die "TAV_PCAPS path has unsafe characters: $PCAPS"
  for u in apache2 htpasswd openssl krb5kdc kdb5_util kadmin.local kinit setsid ss; do
    command -v "$u" >/dev/null || die "missing program $u"
  done
  [[ $(id -u) == 0 ]] || die "must run as root"
  if [[ -e $DIR ]]; then
    [[ -d $DIR && -z $(ls -A "$DIR") ]] || die "$DIR exists and is not empty"
    # Its owner could rename and replace whatever up writes there: the CA that tav-req is told
    # to trust, the config, the CGI program.
    [[ $(stat -c %u "$DIR") == 0 ]] || die "$DIR belongs to another user ($(stat -c %U "$DIR")); give a folder of root's"
  fi
  # The topmost folder that mkdir -p is about to create, if any.
  local above=$DIR
  CREATED=""
  while [[ ! -e $above ]]; do
    CREATED=$above
    above=$(dirname "$above")
  done
  mkdir -p "$DIR"
  DIR=$(realpath "$DIR")
  [[ -z $CREATED ]] || CREATED=$(realpath "$CREATED")
  # From here the folder is empty or ours, and a failure takes back what it made.
  trap 'rc=$?; if ((rc)); then up_failed; fi' EXIT
  trap 'exit 1' INT TERM HUP
  [[ $DIR =~ ^/[A-Za-z0-9._/+-]+$ ]] || die "lab folder path has unsafe characters: $DIR"
  # The workers and task users must enter the lab (mktemp -d makes 0700).
  chmod 0755 "$DIR"
  mkdir -p "$DIR"/{conf,kdc,run,logs,www,ccache}
  install -d -o www-data -g www-data -m 0700 "$DIR/deleg" "$DIR/rcache" "$DIR/davlock"
  setpriv --reuid=www-data --regid=www-data --clear-groups test -x "$DIR/www" ||
    die "www-data cannot reach $DIR: open the folders above it"
  if [[ -n $PCAPS ]]; then
    install_cgi
    setpriv --reuid=www-data --regid=www-data --clear-groups test -x "$PCAPS" ||
      die "www-data cannot run $PCAPS"
  fi
  export KRB5_CONFIG=$DIR/krb5.conf KRB5_KDC_PROFILE=$DIR/kdc.conf
  declare -gA PASSWORD
  for u in "${USERS[@]}"; do PASSWORD[$u]=$(random_hex 8); done
  read -r HTTP_PORT HTTPS_PORT KDC_PORT <<<"$(free_ports tcp tcp udp)"
  write_krb5_conf
  make_kdc
  start_kdc
  get_tickets
  write_site
  make_tls
  start_httpd
  write_lab_files
}

[[ $# == 2 && ($1 == up || $1 == down) ]] || die "usage: lab.sh up|down DIR"
DIR=$2
case $1 in
  up) lab_up ;;
  down)
    [[ -d $DIR ]] || exit 0
    DIR=$(realpath "$DIR")
    lab_down
    ;;
esac
