# bash completion for glowstep-cli: its commands, options, setting keys, simulations, files and
# the names of the controllers present (path, port and serial number, as "list" shows them).

# The names of the controllers present, one per line, from "list --json" (with the simulation of
# the command line, if any).
_glowstep_cli_devices() {
  glowstep-cli "$@" list --json 2>/dev/null | awk -F'"' '
    /^    \{/ { names = "" }
    /^      "(path|port|serial)": "/ { names = names $4 "\n" }
    /^      "controller": true/ { printf "%s", names }'
}

_glowstep_cli() {
  local commands="list read get write diff backup restore keys watch help"
  local keys="stairs leds_per_stair standby_leds on_time delay sensor_time photo_time
    photo_level main_colour standby_colour"
  local simulations="one two none silent refused deaf replug"
  local general="--help --version --timeout --simulate"

  # The words up to the cursor, split at white space only: device names hold ':' and options
  # '=', both of which bash splits words at.
  local line=${COMP_LINE:0:COMP_POINT} current="" previous="" command="" simulate=()
  local -a words
  read -r -a words <<< "$line"
  [[ $line == *[[:space:]] ]] && words+=("")
  current=${words[${#words[@]} - 1]}
  ((${#words[@]} > 1)) && previous=${words[${#words[@]} - 2]}
  local word
  for word in "${words[@]:1:${#words[@]}-2}"; do
    case $word in
      --simulate | --simulate=*) simulate=("$word") ;;
      -*) ;;
      *) [[ -z $command && " $commands " == *" $word "* ]] && command=$word ;;
    esac
  done

  local candidates=() nospace=""
  local IFS=$'\n'
  if [[ $previous == --device ]]; then
    candidates=($(compgen -W "$(_glowstep_cli_devices "${simulate[@]}")" -- "$current"))
  elif [[ $previous == --timeout ]]; then
    return 0
  elif [[ $current == --simulate=* ]]; then
    candidates=($(compgen -P --simulate= -W "${simulations//[[:space:]]/$'\n'}" \
      -- "${current#--simulate=}"))
  elif [[ $current == -* ]]; then
    local options=$general
    case $command in
      list | keys | watch) options+=" --json" ;;
      read | diff) options+=" --device --all --json" ;;
      get) options+=" --device" ;;
      write | restore) options+=" --device --all --dry-run --json" ;;
      backup) options+=" --device --all" ;;
    esac
    candidates=($(compgen -W "${options// /$'\n'}" -- "$current"))
  elif [[ -z $command ]]; then
    candidates=($(compgen -W "${commands// /$'\n'}" -- "$current"))
  else
    case $command in
      write)
        candidates=($(compgen -S = -W "${keys//[[:space:]]/$'\n'}" -- "$current"))
        nospace=1 ;;
      get) candidates=($(compgen -W "${keys//[[:space:]]/$'\n'}" -- "$current")) ;;
      diff | backup | restore) candidates=($(compgen -f -- "$current")) ;;
      help) candidates=($(compgen -W "${commands// /$'\n'}" -- "$current")) ;;
    esac
  fi
  # bash replaces only the part of the word after its last ':' or '=': drop what comes before.
  local typed=${COMP_WORDS[COMP_CWORD]}
  [[ $typed == [:=] ]] && typed=""
  local before=${current%"$typed"}
  COMPREPLY=()
  local candidate
  for candidate in "${candidates[@]}"; do COMPREPLY+=("${candidate#"$before"}"); done
  [[ -n $nospace ]] && compopt -o nospace 2>/dev/null
  return 0
}

complete -F _glowstep_cli glowstep-cli
