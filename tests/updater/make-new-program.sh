#!/bin/sh
# SOURCE-DIR PROGRAM OUT [OLD-VERSION]: OUT is the program with 4096 bytes
# after its image, OUT.sig its statement signed with the test key as version
# 2.0, and OUT.old.sig one as OLD-VERSION, the installed program's version.
set -e
cat "$2" >"$3"
head -c 4096 /dev/zero | tr '\0' N >>"$3"
export SIGN_RELEASE_QUIET=1 SIGN_RELEASE_ANY_VERSION=1
"$1/tools/sign-release" sign "$1/tools/test-release-key.pem" "$3" 2.0
[ -z "${4:-}" ] || "$1/tools/sign-release" sign "$1/tools/test-release-key.pem" "$3" "$4" "$3.old.sig"
