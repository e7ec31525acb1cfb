# bash completion for tav-req, tav-rep, tav-view and tav-suite; installed once under each
# program's name, so bash-completion finds it for whichever is completed first. zsh takes it
# too after `autoload -U bashcompinit && bashcompinit`.
#
# Each program's options are a table, one option a line: its names, then what its value is:
# "-" none, "file" a file, "dir" a folder, "word|word|..." one of these words, "text" anything
# (nothing is offered). An option added to a program is one line here.

_tav_levels='trace|debug|info|warning|error|critical|off'

_tav_req_options="
-d --log-dir dir
-t --tasks file
-o --output-dir dir
-l --log-level $_tav_levels
--request-timeout text
--cacert file
--capath dir
-k --insecure -
-- --ignore_rest -
--version -
-h --help -"

_tav_rep_options="
-d --log-dir dir
-m --metadata file
-r --responses file
-c --config file
-o --output-dir dir
-l --log-level $_tav_levels
-- --ignore_rest -
--version -
-h --help -"

_tav_view_options="
-m --metadata file
-r --responses file
-c --config file
-t --tasks file
--junit file
--html file
--json file
--baseline file
--fail-on new|any
-q --quiet -
-- --ignore_rest -
--version -
-h --help -"

_tav_suite_commands='gen check split merge rerun'
_tav_suite_common="
-- --ignore_rest -
--version -
-h --help -"
_tav_suite_gen_options="
--out dir$_tav_suite_common"
_tav_suite_check_options="
-t --tasks file
-m --metadata file
-c --config file
-o --output-dir dir
-d --log-dir dir
--cacert file
--capath dir$_tav_suite_common"
_tav_suite_split_options="
-t --tasks file
-m --metadata file
-n --shards text
--out dir$_tav_suite_common"
_tav_suite_merge_options="
-o --output file
--over file$_tav_suite_common"
_tav_suite_rerun_options="
-t --tasks file
-m --metadata file
-c --config file
-r --report file
--out dir$_tav_suite_common"

# _tav_value_kind TABLE NAME: prints what NAME's value is ("-", "file", ...); nothing when NAME
# is no option of the table.
_tav_value_kind() {
  local line word
  while read -r line; do
    [[ -n $line ]] || continue
    for word in ${line% *}; do
      if [[ $word == "$2" ]]; then
        printf '%s\n' "${line##* }"
        return
      fi
    done
  done <<<"$1"
}

# _tav_option_names TABLE: every option name of the table, one a line.
_tav_option_names() {
  local line
  while read -r line; do
    [[ -n $line ]] && printf '%s\n' ${line% *}
  done <<<"$1"
}

# _tav_complete_from TABLE OPERANDS FIRST: fills COMPREPLY for the word under the cursor,
# judged from the words from index FIRST on; OPERANDS is what a word that is no option's value
# is ("file" or "-").
_tav_complete_from() {
  local table=$1 operands=$2 first=$3
  local cur=${COMP_WORDS[COMP_CWORD]} option=''
  local prev=''
  ((COMP_CWORD > first)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # "--log-level=de": bash splits it at "=" into "--log-level", "=", "de".
  if [[ $cur == = ]]; then
    option=$prev cur=''
  elif [[ $prev == = ]] && ((COMP_CWORD - 2 >= first)); then
    option=${COMP_WORDS[COMP_CWORD - 2]}
  elif [[ $prev == -* ]]; then
    option=$prev
  fi
  local kind=''
  [[ -n $option ]] && kind=$(_tav_value_kind "$table" "$option")
  if [[ -z $kind || $kind == - ]]; then
    if [[ $cur == -* || $operands == - ]]; then
      kind=options
    else
      kind=$operands
    fi
  fi
  local names
  names=$(_tav_option_names "$table")
  # Offered words are lines: a file name with a space stays one.
  local IFS=$'\n'
  case $kind in
    options) COMPREPLY=($(compgen -W "$names" -- "$cur")) ;;
    file)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      ;;
    dir)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$cur"))
      ;;
    text) COMPREPLY=() ;;
    *) COMPREPLY=($(compgen -W "${kind//|/$'\n'}" -- "$cur")) ;;
  esac
}

_tav_req() { _tav_complete_from "$_tav_req_options" - 1; }
_tav_rep() { _tav_complete_from "$_tav_rep_options" - 1; }
_tav_view() { _tav_complete_from "$_tav_view_options" - 1; }

_tav_suite() {
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "$_tav_suite_commands --help --version" -- "${COMP_WORDS[1]}"))
    return
  fi
  case ${COMP_WORDS[1]} in
    gen) _tav_complete_from "$_tav_suite_gen_options" file 2 ;;
    check) _tav_complete_from "$_tav_suite_check_options" - 2 ;;
    split) _tav_complete_from "$_tav_suite_split_options" - 2 ;;
    merge) _tav_complete_from "$_tav_suite_merge_options" file 2 ;;
    rerun) _tav_complete_from "$_tav_suite_rerun_options" - 2 ;;
    *) COMPREPLY=() ;;
  esac
}

complete -F _tav_req tav-req
complete -F _tav_rep tav-rep
complete -F _tav_view tav-view
complete -F _tav_suite tav-suite
