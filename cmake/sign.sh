#!/bin/sh
# Authenticode-signs a Windows program in place: osslsigncode cert key file.
set -e
tool=$1 cert=$2 key=$3 file=$4
rm -f "$file.signed"
"$tool" sign -certs "$cert" -key "$key" -h sha256 -n Quillora -in "$file" -out "$file.signed" >/dev/null
mv -f "$file.signed" "$file"
