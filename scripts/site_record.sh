# Writes site records as the viewer's site list file holds them; sourced by the demo scripts.
# One 612-byte record: name and host in UTF-16LE (200 bytes each), port, account and password
# (100 bytes each), video size, view flags, stream number, protocol type, spare.
utf16() { local s=$1 i; for ((i = 0; i < ${#s}; i++)); do printf '%s\0' "${s:i:1}"; done; }
pad() { head -c "$1" /dev/zero; }
u32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
site() {  # name host port account password [protocol: 0 Auto, 6 RTSP URL with the URL as host]
  utf16 "$1"; pad $((200 - 2 * ${#1}))
  utf16 "$2"; pad $((200 - 2 * ${#2}))
  u32 "$3"
  printf '%s' "$4"; pad $((100 - ${#4}))
  printf '%s' "$5"; pad $((100 - ${#5}))
  u32 1                                             # Middle
  printf "\\0\\0\\x$(printf %02x "${6:-0}")\\0"       # no rotation, stream 1, protocol, spare
}
