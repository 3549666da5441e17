#!/usr/bin/env bash
# The virtual printer as a client developer uses it, beside a private
# scheduler (with-cupsd): a raw queue on the orvane-view backend, a job sent
# with lp -o raw, its bytes and picture in the queue's folder, the barcode
# read back by zbarimg. Then the command line's answers to a file it cannot
# read and an output it cannot write.
# Arguments: orvane_receipt_view
set -euo pipefail
view=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

printf '<p_s><c1>Orvane Shell\n<h1>Tea x2     8.00\n<bc>ORV-2026-0042<p_e>' >"$work/receipt.txt"
"$view" --markup "$work/receipt.txt" --route spooler --write-bytes "$work/job.bin" -o "$work/direct.png" >/dev/null

folder="$ORVANE_TEST_CUPS_DIR/out/View"
mkdir -p "$folder" && chmod 777 "$folder"
lpadmin -p View -v "orvane-view:$folder" -E
id=$(lp -d View -o raw "$work/job.bin" | sed -nE 's/.*request id is View-([0-9]+).*/\1/p')
[ -n "$id" ] || fail "lp did not take the job"
for _ in $(seq 200); do
  [ -f "$folder/$id.png" ] && break
  sleep 0.1
done
[ -f "$folder/$id.png" ] || { cat "$ORVANE_TEST_CUPS_DIR/log/error_log" >&2 || true; fail "no picture for job $id"; }
cmp "$work/job.bin" "$folder/$id.escpos" || fail "the kept bytes differ from the job's"
cmp "$work/direct.png" "$folder/$id.png" || fail "the backend drew the job differently from the command line"
grep -q '^problems: 0$' "$folder/$id.txt" || fail "problems reported: $(cat "$folder/$id.txt")"
read_back=$(zbarimg --raw -q "$folder/$id.png" 2>/dev/null)
[ "$read_back" = "ORV-2026-0042" ] || fail "zbarimg read \"$read_back\""
echo "job $id: bytes kept, picture drawn, barcode read back: $read_back"

# A clear answer, and no picture, for what cannot be read or written.
if "$view" --escpos "$work/missing.bin" -o "$work/x.png" 2>"$work/err"; then fail "a missing input succeeded"; fi
grep -q "cannot read $work/missing.bin" "$work/err" || fail "missing input: $(cat "$work/err")"
if "$view" --escpos "$work/job.bin" -o "$work/no/such/folder/x.png" 2>"$work/err"; then fail "an unwritable output succeeded"; fi
grep -q "cannot write $work/no/such/folder/x.png" "$work/err" || fail "unwritable output: $(cat "$work/err")"
[ ! -e "$work/x.png" ] || fail "a picture was written for a missing input"
echo "missing input and unwritable output refused"
