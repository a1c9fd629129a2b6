#!/usr/bin/env bash
# The image tool refuses images of the wrong size or revision, naming the file.
# usage: imagetool_test.sh IMAGETOOL SCRATCH_DIR
set -uo pipefail
tool=$1
scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch/good" "$scratch/out"
passed=0 failed=0
check() {
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $name"; fi
}

"$tool" make "$scratch/good" >/dev/null 2>&1
check "placeholders made" test -s "$scratch/good/image4.bin"
check "placeholder size" test "$(wc -c < "$scratch/good/image2.bin")" -eq 2097152
check "placeholder revision" test "$(dd if="$scratch/good/image3.bin" bs=1 skip=$((0x3020)) count=8 2>/dev/null)" = QLR4KCXA
mkdir -p "$scratch/again" && "$tool" make "$scratch/again" >/dev/null 2>&1
check "placeholders are deterministic" cmp -s "$scratch/good/image1.bin" "$scratch/again/image1.bin"

"$tool" take "$scratch/good" "$scratch/out" 2>"$scratch/err"
check "good images taken" test $? -eq 0 -a -s "$scratch/out/image1.bin"

cp -r "$scratch/good" "$scratch/short"
truncate -s 2097151 "$scratch/short/image2.bin"
"$tool" take "$scratch/short" "$scratch/out" 2>"$scratch/err"
check "short image refused" test $? -ne 0
check "short image named" grep -q "image2.bin is 2097151 bytes" "$scratch/err"

cp -r "$scratch/good" "$scratch/swapped"
mv "$scratch/swapped/image3.bin" "$scratch/swapped/tmp"
mv "$scratch/swapped/image4.bin" "$scratch/swapped/image3.bin"
mv "$scratch/swapped/tmp" "$scratch/swapped/image4.bin"
"$tool" take "$scratch/swapped" "$scratch/out" 2>"$scratch/err"
check "swapped images refused" test $? -ne 0
check "wrong revision named" grep -q 'image3.bin holds revision "QLR4KCXB" at 0x3020; image 3 must install QLR4KCXA' "$scratch/err"

rm "$scratch/swapped/image1.bin"
"$tool" take "$scratch/swapped" "$scratch/out" 2>"$scratch/err"
check "missing image named" grep -q "cannot read .*image1.bin" "$scratch/err"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
