; An installer of the same game files made with makensis, for comparison only.
; makensis -DGAME_DIR=<folder> -DOUT_FILE=<exe> [-DSTORED] game_installer.nsi
; Silent (/S) and per-user; GAME_DIR's files go below the folder given with /D=.
; 64-bit like the setup program (Wine runs no 32-bit programs without wine32).
Target amd64-unicode
!ifdef STORED
  SetCompress off
!else
  SetCompressor zlib
!endif

Name "Torrentine PC"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Torrentine PC"
RequestExecutionLevel user
SilentInstall silent

Section
  SetOutPath "$INSTDIR"
  File /r "${GAME_DIR}/*"
SectionEnd
