#!/bin/sh
# Writes the screen formats of demo.dts into formats/<name>.t3z.
# A format is a 48-byte header followed by field descriptors of three bytes
# (length, attributes with the kind code, colour), a heading's text after
# its descriptor.  The data fields, in order, make up the screen data
# (a numeric edited field takes its digits there).
set -eu
cd "$(dirname "$0")"
mkdir -p formats

byte() { for v in "$@"; do printf "\\$(printf %03o "$v")"; done; }
u16() { byte $(($1 >> 8)) $(($1 & 255)); }
heading() { byte ${#1} 147 0; printf '%s' "$1"; }  # 0x93: protected heading text
output() { byte "$1" 130 0; }                       # 0x82: protected data field
input() { byte "$1" 66 0; }                         # 0x42: data field, tab stop
newline() { byte 0 20 0; }                          # 0x14: next row
upper() { byte "$1" 65 0; }                         # 0x41: upper-case alpha field, tab stop
numeric() { byte "$1" 73 0; }                       # 0x49: numeric field, tab stop
zeros() { byte "$1" 74 0; }                         # 0x4A: zero-suppressed numeric, tab stop
protnum() { byte "$1" 137 0; }                      # 0x89: protected numeric field
protzeros() { byte "$1" 138 0; }                    # 0x8A: protected zero-suppressed numeric
# edited MASK EDIT DIGITS: 0x8C protected numeric edited field (edit byte:
# decimal places; digits: of the screen data), then its mask.
edited() { byte ${#1} 140 0 "$2" "$3"; printf '%s' "$1"; }
errors() { byte "$1" 146 0; }                       # 0x92: where the host's error text goes
today() { byte 8 151 0; }                           # 0x97: today's date

# format NAME OUTPUTS INPUTS DATA-BYTES CURSOR-ROW CURSOR-COLUMN FIELDS-FUNCTION
format() {
  area=formats/.area
  $7 > "$area"
  {
    u16 0; byte 0 0; u16 "$2"; u16 "$3"
    byte 24 80; u16 0
    printf '%-8s%-8s' "$1" "$1"
    byte 1 0 58 1 "$5" "$6"           # erase screen; type ':'; start row 1
    u16 "$4"; u16 0; u16 "$(wc -c < "$area")"
    byte 3 2 2 4 0 0 0 0              # intensities
    cat "$area"
  } > "formats/$(echo "$1" | tr 'A-Z' 'a-z').t3z"
  rm -f "$area"
}

logon() {
  heading "DTPHOST DEMO: LOGON"; newline
  heading "SESSION "; output 8; newline
  heading "USER    "; input 8; newline
  output 40
}
menu() {
  heading "DTPHOST DEMO: MENU"; newline
  heading "SESSION "; output 8; newline
  heading "INPUTS  "; output 6; newline
  heading "CHOICE  "; input 1; newline
  output 40
}
detail() {
  heading "DTPHOST DEMO: DETAIL"; newline
  heading "SESSION "; output 8; newline
  heading "CHOICE  "; output 1; newline
  output 40
}
echo_screen() {
  heading "DTPHOST DEMO: ECHO"; newline
  heading "SESSION "; output 8; newline
  heading "INPUTS  "; output 6; newline
  heading "TYPE    "; input 30; newline
  heading "YOU SAID"; output 30
}

# ORDER's screens have no hand-written pages: the gateway converts these.
order_entry() {
  heading "DTPHOST DEMO: ORDER ENTRY"; byte 0xC5; today; newline
  heading "SESSION  "; output 8; newline
  heading "CUSTOMER "; upper 20; newline
  heading "ITEM NO  "; numeric 6; newline
  heading "QUANTITY "; zeros 4; newline
  heading "PRICE    "; edited "ZZZ,ZZ9.99" 2 8; newline
  errors 60
}
order_taken() {
  heading "DTPHOST DEMO: ORDER TAKEN"; newline
  heading "SESSION  "; output 8; newline
  heading "CUSTOMER "; output 20; newline
  heading "ITEM NO  "; protnum 6; newline
  heading "QUANTITY "; protzeros 4; newline
  errors 60
}

format LOGON 2 1 56 3 9 logon
format MENU 3 1 55 4 9 menu
format DETAIL 3 0 49 1 1 detail
format ECHO 3 1 74 4 9 echo_screen
format ORDENTRY 5 3 46 3 10 order_entry
format ORDTAKEN 4 0 38 1 1 order_taken
