#!/usr/bin/env bash
# Signing as a publisher would, with a throwaway CA and code-signing certificate made here:
# the signed setup verifies against that CA, still installs and uninstalls under Wine with
# its package digest intact, its installed Uninstall.exe (a byte copy) verifies too, and
# one changed byte fails the verification.
#   signing_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1" source="$2"
wine_run="$build/wine-run.sh"
work="$(mktemp -d "$build/signing.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }

# The CA, and a code-signing certificate it issues.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway Test CA" \
  -keyout ca.key -out ca.pem -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway Publisher" -keyout signer.key \
  -out signer.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >ext.cnf
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile ext.cnf -out signer.pem 2>/dev/null
echo "a password" >password.txt
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12 \
  -passout file:password.txt

cp "$build/TorrentinePCSetup-test.exe" setup.exe
bash "$source/scripts/sign-release.sh" setup.exe signer.p12 password.txt
osslsigncode verify -CAfile ca.pem -in setup.exe >verify.txt 2>&1 || { cat verify.txt; fail "the signed setup does not verify"; }

cp setup.exe changed.exe
printf '\x55' | dd of=changed.exe bs=1 seek=5000 conv=notrunc status=none
if osslsigncode verify -CAfile ca.pem -in changed.exe >/dev/null 2>&1; then fail "a changed byte still verifies"; fi

# Installs and uninstalls under Wine, its package digest intact.
rom="$("$wine_run" winepath -w "$build/fixtures/fixture.z64" 2>/dev/null)"
folder_w='C:\SigningTest\Torrentine PC'
out="$("$wine_run" "$work/setup.exe" /S /rom "$rom" /dir "$folder_w" /nodesktop /nostartmenu)" ||
  fail "the signed setup did not install: $out"
case "$out" in *"Done! Torrentine PC is installed in"*) ;; *) fail "no Done! line: $out" ;; esac
folder="$("$wine_run" winepath -u "$folder_w" 2>/dev/null)"
[ -f "$folder/Uninstall.exe" ] || fail "no Uninstall.exe in $folder"
cmp -s setup.exe "$folder/Uninstall.exe" || fail "Uninstall.exe is not a byte copy"
osslsigncode verify -CAfile ca.pem -in "$folder/Uninstall.exe" >/dev/null 2>&1 ||
  fail "the installed Uninstall.exe does not verify"
"$wine_run" "$folder_w\\Uninstall.exe" /uninstall /S /delsaves || fail "the uninstall did not start"
for _ in $(seq 1 600); do [ -d "$folder" ] || break; sleep 0.1; done
[ ! -d "$folder" ] || fail "the signed uninstaller left $folder"
"$wine_run" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TorrentinePC' /f >/dev/null 2>&1 || true
rmdir "$(dirname "$folder")" 2>/dev/null || true
echo "signing: the signed setup verifies, installs, uninstalls; its Uninstall.exe verifies; a changed byte fails"
