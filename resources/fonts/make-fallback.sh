#!/bin/sh
# Makes the embedded fallback face: DejaVu Sans cut down to the characters the embedded faces
# may lack (Latin-1 and Latin Extended-A, punctuation such as "…" and "—", arrows such as "→",
# "×" and the other mathematical operators, super- and subscripts, boxes and shapes). Run on
# Debian with fonts-dejavu-core and python3-fonttools installed; the result is committed.
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 -m fontTools.subset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf \
    --unicodes="U+0020-007E,U+00A0-017F,U+2010-205E,U+2070-209F,U+20AC,U+2190-21FF,U+2200-22FF,U+2500-257F,U+25A0-25FF,U+FFFD" \
    --layout-features='*' --output-file=DejaVuSans-Fallback.ttf
cp /usr/share/doc/fonts-dejavu-core/copyright LICENSE-DejaVu.txt
