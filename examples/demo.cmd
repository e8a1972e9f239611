; Zavlo384 demo: one controller through the steps of a production line.
; Run it where demo.s24, rexa01.prn and an empty readback.bin are:
;   zavlo384-cli '#demo.cmd'
;
; Who is there? The reply check fails with its own text after the second "!".
I000000
!monitor!Stanice se neohlasila.
; Download the memory image: 24 KiB of text, a gap, a table.
#demo.s24
; Read the image's whole range back, 0x010000 to 0x019233, gap included.
@binget010000,009234>readback.bin
; Set the controller's clock from this computer's.
@SRTC
; Write the serial number and log it in rexa01.prn.
@SSN00012345 Demo line;lot 1
