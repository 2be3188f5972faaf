#!/usr/bin/env zsh
# Prints, one per line, what zsh's completion offers for a command line: an interactive zsh on a
# pseudo-terminal, with the completion functions of ZSH_DIR, is sent the line and a TAB; its
# compadd prints the matches, between two empty marker lines that the completion system's
# hooks write before and after.
#   zsh -f zsh_completions.zsh ZSH_DIR LINE
zmodload zsh/zpty
dir=$1
line=$2
zpty z zsh -f -i
zpty -w z "PROMPT=''"
zpty -w z "fpath=(${(q)dir} \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z "zstyle ':completion:*' completer _complete"
zpty -w z "zstyle ':completion:*' insert-tab false"
zpty -w z "bindkey '^I' complete-word"
zpty -w z "marker() { echo -E - \$'\\0' }"
zpty -w z "compprefuncs=(marker); comppostfuncs=(marker exit)"
zpty -w z 'compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi
  local -a hits
  builtin compadd -A hits "$@"
  (( $#hits )) && print -rl -- "$IPREFIX"${^hits}
}'
zpty -w z "$line"$'\t'
integer markers=0
while zpty -r z; do :; done | while IFS= read -r output; do
  output=${output%$'\r'}
  if [[ $output == *$'\0' ]]; then
    (( markers++ )) && exit 0
    continue
  fi
  (( markers )) && print -r -- "$output"
done
