#!/usr/bin/env bash
# The Wireshark dissectors on a run of the desk runner with noise on the serial line: the
# line as the runner records it, converted to pcap, and the base-unit link captured on
# loopback. Arguments: the desk runner, the tools/wireshark folder and the emulator of a
# cross build (may be empty).
set -euo pipefail
if [ -z "${TST_OWN_NETNS:-}" ]; then # lo and port 1147 to ourselves, whatever runs beside
    unshare --net true 2>/dev/null || { echo "needs unshare --net"; exit 77; }
    exec env TST_OWN_NETNS=1 unshare --net bash "$0" "$@"
fi
ip link set lo up
desk=$1 tools=$2 work=$(mktemp -d)
read -r -a emulator <<<"${3//;/ }"
trap 'rm -rf "$work"' EXIT
export WIRESHARK_CONFIG_DIR=$work # no personal preferences
fail() { echo "FAIL: $*"; exit 1; }
expect() { [ "$2" = "$3" ] || fail "$1: got '$2', wanted '$3'"; }
fields() { tshark -X lua_script:"$tools/norvik.lua" -2 -r "$1" -Y "$2" -T fields -E separator=' ' "${@:3}" 2>/dev/null | sed 's/ *$//'; }

dumpcap -q -i lo -f 'tcp port 1147' -w "$work/tcp.pcapng" 2>/dev/null & dumpcap=$!
for _ in $(seq 100); do [ -s "$work/tcp.pcapng" ] && break; sleep 0.1; done
"${emulator[@]}" "$desk" --seconds 9 --fault serial-noise --trace --capture "$work/line.txt" >"$work/desk.log" 2>&1 || fail "desk runner"
python3 - <<'PY' # a base-unit status split in its header, then one split in its payload and one more
import socket, time
server = socket.create_server(("127.0.0.1", 1147))
client = socket.create_connection(("127.0.0.1", 1147))
status = b"LrdA\x08\x00\x03\x00\x00\x00\x00\x00\x27\x00\x05"
for piece in (status[:7], status[7:], status[:13], status[13:] + status):
    client.sendall(piece)
    time.sleep(0.3)
PY
kill -INT $dumpcap && wait $dumpcap || true

# Two known frames first: a notification with a stuffed control byte (class 2, #2), and a
# SELECT event whose CRC lost a bit.
sed -i '1a 0 IP 82900203000500030000020053686f636b001962094c0a\n0 IP 82400001c58e41760a' "$work/line.txt"
python3 "$tools/serialcap2pcap.py" "$work/line.txt" "$work/line.pcap" >/dev/null || fail "conversion"
line=$work/line.pcap tcp=$work/tcp.pcapng
expect "notification" "$(fields "$line" frame.number==1 -e nkil.crc.status -e nkil.class -e nkil.pktnum \
    -e nkil.service -e nkil.ntf.reference -e nkil.ntf.id -e nkil.ntf.target -e nkil.ntf.severity -e nkil.ntf.text)" \
    "1 2 2 3 5 3 0 2 Shock"
expect "damaged frame" "$(fields "$line" 'frame.number==2 && nkil.crc.bad' -e nkil.crc.status -e nkil.class \
    -e nkil.service -e nkil.sysev.event)" "0 1 0 1"

# Exactly the library's frames that the internal processor accepted have a good CRC, and
# they decode to what it saw; the noise damaged others.
fields "$line" 'nkil.direction==0 && nkil.crc.status==1' -e nkil.class -e nkil.pktnum -e nkil.service \
    -e nkil.payload >"$work/decoded"
awk '$3 == "RU" && $5 == "IP" { p = ""; for (i = 11; i <= NF && $i != "(retransmission)"; i++) p = p $i
    print $7, substr($8, 2), $10, p }' "$work/desk.log" | sed 's/ *$//' >"$work/accepted"
[ "$(wc -l <"$work/accepted")" -gt 50 ] || fail "too few frames from the library"
diff "$work/accepted" "$work/decoded" || fail "decoded frames differ from the accepted ones"
good=nkil.crc.status==1 # the same packet may come more than once: walked again, retransmitted
expect "remote identity" "$(fields "$line" "$good && nkil.cfg.value && nkil.cfg.key==\"RUID\"" -e nkil.cfg.value | sort -u)" 4660
expect "version" "$(fields "$line" "$good && nkil.cfg.version && nkil.cfg.key==\"ECSR\"" -e nkil.cfg.version | sort -u)" 2.3.9
expect "status frame" "$(fields "$line" "$good && nkil.pd.ru_identity" -e nkil.pd.ru_identity \
    -e nkil.pd.g_link_status | tail -1)" "4660 1"
expect "arm request" "$(fields "$line" "$good && nkil.direction==0 && nkil.sysev.event==3" -e nkil.class \
    -e nkil.service | sort -u)" "1 0"

expect "INIT" "$(fields "$tcp" ruzad.id==1 -e ruzad.init.major -e ruzad.init.minor -e ruzad.init.remote_id \
    -e ruzad.init.base_id -e ruzad.init.checksum.status -e ruzad.payload | head -1)" \
    "2 1 4660 39 1 $(grep -o 'received id 1 .*' "$work/desk.log" | head -1 | cut -d' ' -f4- | tr -d ' ')"
expect "INITACK" "$(fields "$tcp" ruzad.id==2 -e ruzad.initack.error | sort -u)" 0
expect "checksum of another application" "$(fields "$tcp" ruzad.checksum.bad -o \
    ruzad.app_checksum:00112233445566778899aabbccddeeff -e ruzad.init.checksum.status | sort -u)" 0
expect "base-unit status" "$(fields "$tcp" 'ruzad.id==8' -e ruzad.bu.identity -e ruzad.bu.state | head -1)" "39 1"
expect "commands" "$(fields "$tcp" ruzad.id==3 -e ruzad.cmd | sort | xargs)" "6c696674 6c6966746564"
expect "reassembled messages" "$(fields "$tcp" ruzad.bu.state==5 -e ruzad.bu.identity | xargs)" "39 39,39"
[ -n "$(fields "$tcp" ruzad.id==0 -e ruzad.size)" ] || fail "no heartbeat"
echo "PASS"
