#!/bin/sh
# Makes demo.s24, the sample memory image of the demo: 24 KiB of text from 0x010000, a gap,
# then a table that starts inside a 128-byte window at 0x018010, in 32-byte S2 records
# (some of them crossing a window boundary), with a header, a record count and an S8
# end record that starts the image at 0x010000.
# Needs srec_cat (Debian package srecord). Usage: make-demo-s24.sh [output file]
set -eu
out=${1:-"$(dirname "$0")/demo.s24"}
srec_cat \
    -generate 0x010000 0x016000 -repeat-string 'Zavlo384: ukazkovy obraz pameti. ' \
    -generate 0x018010 0x019234 -repeat-data 0x00 0x11 0x22 0x33 0x44 0x55 0x66 0x77 0x88 0x99 0xAA \
    -header 'Zavlo384 demo' \
    -execution-start-address 0x010000 \
    -o "$out" -address-length=3 -Output_Block_Size 32
