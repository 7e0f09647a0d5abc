# SPDX-License-Identifier: MIT
# bash completion for oxa-detect                         -*- shell-script -*-
#
# Options after "oxa-detect -", a file after --replay, a file or an option
# after --smbios (whose FILE is optional), nothing after an option that
# takes no other.

_oxa_detect_files() {
  local IFS=$'\n'
  # shellcheck disable=SC2207  # one file name a line
  COMPREPLY=($(compgen -f -- "$1"))
}

_oxa_detect() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev='' i
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --dump | --version | --help | -h) return 0 ;;
    esac
  done
  case $prev in
    --replay)
      _oxa_detect_files "$cur"
      return 0
      ;;
    --smbios)
      if [[ $cur != -* ]]; then
        _oxa_detect_files "$cur"
        return 0
      fi
      ;;
  esac
  # shellcheck disable=SC2207  # options hold no blanks
  COMPREPLY=($(compgen -W '--summary --pretty --prometheus --quiet --brief --vm --container --list --smbios --dump --replay --version --help' -- "$cur"))
}
complete -o filenames -F _oxa_detect oxa-detect
