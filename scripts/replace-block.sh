# Sourced by the scripts that regenerate parts of the documentation:
# replace_block BEGIN END CONTENT_FILE TARGET replaces the lines between the marker lines
# BEGIN and END of TARGET with the content of CONTENT_FILE. The rest of TARGET is read
# at this moment, so edits elsewhere in it are kept.
replace_block() {
  local begin="$1" end="$2" content="$3" target="$4"
  grep -qxF "$begin" "$target" && grep -qxF "$end" "$target" || {
    echo "no block $begin ... $end in $target" >&2
    exit 1
  }
  awk -v begin="$begin" -v end="$end" -v file="$content" '
    $0 == begin { print; while ((getline line < file) > 0) print line; skipping = 1; next }
    $0 == end { skipping = 0 }
    !skipping { print }
  ' "$target" >"$target.new"
  mv "$target.new" "$target"
}
