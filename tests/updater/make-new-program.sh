#!/bin/sh
# SOURCE-DIR STAND-IN OUT: OUT is the stand-in with 4096 bytes after its
# image, and OUT.sig its statement signed with the test key as version 2.0.
set -e
cat "$2" >"$3"
head -c 4096 /dev/zero | tr '\0' N >>"$3"
SIGN_RELEASE_QUIET=1 "$1/tools/sign-release" sign "$1/tools/test-release-key.pem" "$3" 2.0
