; An installer of the same game made with makensis, for comparison only.
; makensis -DGAME_DIR=<folder> -DOUT_FILE=<exe> [-DSTORED] [-DROM_FILE=<Windows path>]
;          [-DSHORTCUTS] game_installer.nsi
; Silent (/S) and per-user; GAME_DIR's files go below the folder given with /D=.
; 64-bit like the setup program (Wine runs no 32-bit programs without wine32).
; With ROM_FILE it does the setup program's whole job but the icon: the files, a copy of
; the ROM file (read where ROM_FILE names it at install time), the same 65-byte note, its
; uninstaller and the same nine uninstall values (under a key of its own), with the size
; measured as NSIS installers do; desktop and Start-menu shortcuts only with SHORTCUTS
; (the benchmark's installs make none).
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

!ifdef ROM_FILE
!include "FileFunc.nsh"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TorrentinePC-NSIS"
!endif

Section
  SetOutPath "$INSTDIR"
  File /r "${GAME_DIR}/*"
!ifdef ROM_FILE
  FileOpen $0 "$INSTDIR\portable.txt" w
  FileWrite $0 "Settings, saves, mods and the ROM copy are kept in this folder.$\r$\n"
  FileClose $0
  CopyFiles /SILENT "${ROM_FILE}" "$INSTDIR\torrentine.n64.proto.19990615.z64"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
!ifdef SHORTCUTS
  CreateShortCut "$DESKTOP\Torrentine PC.lnk" "$INSTDIR\TorrentinePC.exe"
  CreateShortCut "$SMPROGRAMS\Torrentine PC.lnk" "$INSTDIR\TorrentinePC.exe"
!endif
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Torrentine PC"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\TorrentinePC.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /uninstall'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Torrentine PC port"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "1.0"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
!endif
SectionEnd

!ifdef ROM_FILE
Section "Uninstall"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
!endif
