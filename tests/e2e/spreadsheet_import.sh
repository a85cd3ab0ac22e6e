#!/bin/bash
# The CSV forms as a spreadsheet imports them: meterlink-cli downloads from meterlink-sim
# with ISO timestamps in the comma form and in the semicolon form, and LibreOffice Calc
# (headless) imports each with "detect special numbers" on, the comma form under en-US
# and the semicolon form under de-DE. Every reading must become a number and every
# timestamp a date. Skips (77) without soffice.
# Usage: spreadsheet_import.sh BIN_DIR
set -euo pipefail
bin=$(realpath "$1")
command -v soffice >/dev/null || { echo "skipped: soffice (libreoffice-calc-nogui) is not installed"; exit 77; }
work=$(mktemp -d)
sim=
cleanup() {
    [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

"$bin/meterlink-sim" --link "$work/com1" --records 160 --seed 3 >sim.out 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q ready sim.out && break; sleep 0.1; done
grep -q ready sim.out || { cat sim.out >&2; exit 1; }
"$bin/meterlink-cli" download --port 1 --timestamps iso --out comma.csv >/dev/null
"$bin/meterlink-cli" download --port 1 --timestamps iso --dialect semicolon --out semicolon.csv \
    >/dev/null

# Filter options: separator (44 ",", 59 ";"), quote 34, UTF-8 (76), from line 1, column
# types standard, language (1033 en-US, 1031 de-DE), quoted as text off, special numbers on.
convert() { # CSV OPTIONS
    mkdir -p "out-${1%.csv}"
    HOME=$work timeout 180 soffice --headless --norestore \
        "-env:UserInstallation=file://$work/profile" --infilter="$2" \
        --convert-to xlsx --outdir "out-${1%.csv}" "$1" >soffice.log 2>&1 ||
        { cat soffice.log >&2; exit 1; }
}
convert comma.csv "CSV:44,34,76,1,,1033,false,true"
convert semicolon.csv "CSV:59,34,76,1,,1031,false,true"

/usr/bin/python3 - out-comma/comma.xlsx out-semicolon/semicolon.xlsx <<'PY'
import re, sys, zipfile
import xml.etree.ElementTree as ET
ns = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main"}
failed = False
for path in sys.argv[1:]:
    book = zipfile.ZipFile(path)
    styles = ET.fromstring(book.read("xl/styles.xml"))
    formats = {int(f.get("numFmtId")): f.get("formatCode")
               for f in styles.iterfind("m:numFmts/m:numFmt", ns)}
    def is_date(style):
        xf = styles.findall("m:cellXfs/m:xf", ns)[style]
        fid = int(xf.get("numFmtId"))
        code = formats.get(fid, "")
        return 14 <= fid <= 22 or bool(re.search(r"[yY].*[dD]|[dD].*[yY]", code))
    sheet = ET.fromstring(book.read("xl/worksheets/sheet1.xml"))
    rows = sheet.findall("m:sheetData/m:row", ns)[1:]  # the headings are text
    cells = dates = numbers = 0
    for row in rows:
        for cell in row.findall("m:c", ns):
            numeric = cell.get("t", "n") == "n" and cell.find("m:v", ns) is not None
            if re.match(r"A\d+$", cell.get("r")):
                dates += numeric and is_date(int(cell.get("s", "0")))
            else:
                cells += 1
                numbers += numeric
    print("%s: %d of %d timestamps dates, %d of %d readings numbers"
          % (path, dates, len(rows), numbers, cells))
    failed |= not rows or dates != len(rows) or numbers != cells or cells == 0
sys.exit(1 if failed else 0)
PY
