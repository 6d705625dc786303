#!/usr/bin/env bash
# Standard input against a named input on the generated file of 20 M format-1
# points: default voxel thinning given the file with -i, through a pipe with
# -stdin (its points stored in memory, compressed, for the second pass) and
# as a redirected -stdin, the same for a compressed copy of the file, and
# -pipe_on in one pass. Prints wall time and peak memory of each run beside
# the input's size; the outputs of each input are checked to be identical.
#
#   bash bench/stored_20m.sh          (POINTS=... and BENCH_DIR=... to change)
set -euo pipefail
source "$(dirname "$0")/sample_20m.sh"
tool="$build/tool/voxsifter"
compressed="$data/in_${points}.vmb"
[ -f "$compressed" ] || "$tool" -i "$input" -every_nth 1 -o "$compressed" -quiet
cat "$compressed" >/dev/null

run() {  # label, shell command line (with $tool)
  local label="$1" command="$2" log="$data/log_stored_$1.txt"
  /usr/bin/time -f "TIME %e %M" bash -c "$command" 2>"$log"
  local wall kb
  read -r wall kb < <(sed -n 's/^TIME //p' "$log")
  awk -v l="$label" -v w="$wall" -v kb="$kb" 'BEGIN { printf "%-22s %7.2f s  peak %7.1f MB\n", l, w, kb / 1024 }'
}

for file in "$input" "$compressed"; do
  ext="${file##*.}"
  echo "input: $(du -h "$file" | cut -f1) ($points points, $ext)"
  out="$data/out_stored"
  run "${ext}_named" "'$tool' -i '$file' -o '${out}_named.las'"
  run "${ext}_stdin_pipe" "cat '$file' | '$tool' -stdin -o '${out}_pipe.las'"
  run "${ext}_stdin_redirect" "'$tool' -stdin -o '${out}_redirect.las' < '$file'"
  cmp "${out}_named.las" "${out}_pipe.las"
  cmp "${out}_named.las" "${out}_redirect.las"
done
run "las_pipe_on_one_pass" "'$tool' -i '$input' -pipe_on -every_nth 1 -o '$data/out_stored_every.las' > /dev/null"
