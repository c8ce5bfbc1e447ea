#!/bin/sh
# Runs the sample-report program under Wine, then checks on the Linux side that every report it
# wrote starts with FF FE and validates against the report schema, and that the schema rejects
# reports that break the format, that the stream writer's report is byte for byte the document's,
# and that the report of fixed tables is byte for byte the one kept in the source tree (the same
# file for the 32-bit and the x64 build).
# Usage: validate_report_schema.sh <wine emulator> <report_sample.exe> <AptReport.xsd> <work folder> <expected fixed.xml>
set -eu
emulator=$1
sample=$2
schema=$3
work=$4
golden=$5

rm -rf "$work"
mkdir -p "$work"
cd "$work"
"$emulator" "$sample"

for report in full.xml streamed.xml empty.xml fixed.xml; do
  mark=$(head -c 2 "$report" | od -An -tx1 | tr -d ' \n')
  if [ "$mark" != "fffe" ]; then
    echo "$report: starts with '$mark', not the byte-order mark ff fe"
    exit 1
  fi
  xmllint --noout --schema "$schema" "$report"
done

if ! cmp full.xml streamed.xml; then
  echo "the stream writer's report differs from the document's"
  exit 1
fi

if ! cmp fixed.xml "$golden"; then
  echo "the report of the fixed tables differs from $golden"
  exit 1
fi

# Each edit below breaks one rule of the format; the schema must turn every edited copy away.
iconv -f UTF-16 -t UTF-8 fixed.xml | sed 's/encoding="utf-16"/encoding="utf-8"/' > fixed8.xml
xmllint --noout --schema "$schema" fixed8.xml
while IFS= read -r edit; do
  [ -n "$edit" ] || continue
  sed "$edit" fixed8.xml > broken.xml
  if cmp -s fixed8.xml broken.xml; then
    echo "edit did not change the report: $edit"
    exit 1
  fi
  if xmllint --noout --schema "$schema" broken.xml 2>/dev/null; then
    echo "schema accepted a broken report: $edit"
    exit 1
  fi
done <<'EDITS'
s/ Cloud="malware"/ Cloud="bad"/
s/ CloudSigner="safe"/ CloudSigner="unknown"/
s/ CloudLumen="SuspiciousFamily"/ CloudLumen="Other"/
s/ Sha1="A0A1/ Sha1="a0a1/
s/ Sha1="\([0-9A-F]*\)"/ Sha1="\10"/
s/ CpuTime="1T01:01:01"/ CpuTime="1T24:01:01"/
s/ Created="2016-03-01T09:05:07Z"/ Created="2016-03-01 09:05:07"/
s/ Clr="true"/ Clr="1"/
s/ skipGac="true"/ skipGac="yes"/
s/ Id="3"/ Id="1"/
s/ Id="1"/ Id="0"/
s/ ModuleRefId="3"/ ModuleRefId="-1"/
s/ Scope="Logon"/ Scope="Startup"/
s/ BitSystem="32"/ BitSystem="16"/
s/ Pid="0"/ Pid="4000000000"/
s/<OperatingSystem [^>]*\/>//
s/ SID="[^"]*"//
EDITS
echo "all reports valid; every broken copy rejected"
