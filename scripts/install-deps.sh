#!/bin/bash
# Installs, from Debian 12's packages, whatever the build, the tests and the lab need and the
# machine lacks. Safe to run again: installed packages are left alone.
#
#   scripts/install-deps.sh [--bench]    (--bench: also what bench/run.sh needs)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

lists=("$here/lab/packages.txt")
for arg in "$@"; do
  case $arg in
    --bench) lists+=("$here/bench/packages.txt") ;;
    *)
      echo "install-deps: unknown option '$arg'; usage: install-deps.sh [--bench]" >&2
      exit 2
      ;;
  esac
done

packages=(
  g++ cmake make pkg-config
  libcurl4-openssl-dev libspdlog-dev libfmt-dev nlohmann-json3-dev libtclap-dev libgtest-dev
  python3 python3-jsonschema clang-format
  scdoc dpkg-dev file lintian
  chromium-headless-shell
)
for list in "${lists[@]}"; do
  # The lab's list is optional, as it always was; an asked-for list is not.
  if [[ ! -f $list ]]; then
    [[ $list == "$here/lab/packages.txt" ]] && continue
    echo "install-deps: missing package list $list" >&2
    exit 1
  fi
  while read -r name; do
    [[ -n "$name" && "$name" != \#* ]] && packages+=("$name")
  done <"$list"
done

missing=()
for name in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$name")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
