; The peer of the extraction benchmark: an NSIS installer of the same payload
; folder, built as a plain one would be (zlib, not solid, its CRC check on),
; that unpacks silently, without a log, into the folder given by /D=.
; Without PAYLOAD it carries nothing, which times what starting one costs.
;   makensis -DTARGET=amd64-unicode|x86-unicode [-DPAYLOAD=<folder>]
;            -DOUTFILE=<exe> bench/nsis_peer.nsi
Target ${TARGET}
SetCompressor zlib
CRCCheck on
SilentInstall silent
RequestExecutionLevel user
Name "Benchmark peer"
OutFile "${OUTFILE}"
InstallDir "$TEMP\benchmark-peer"

Section
  SetOutPath "$INSTDIR"
!ifdef PAYLOAD
  File /r "${PAYLOAD}/*"
!endif
SectionEnd
