; Setup program for Kestrel. makensis -DBINDIR=<dir with Kestrel.exe and the prompts> Kestrel.nsi
Unicode true
!ifndef BINDIR
  !define BINDIR "..\build\win32\bin"
!endif
!ifndef OUTFILE
  !define OUTFILE "KestrelSetup.exe"
!endif

Name "DeRU Zarar Urorezu Vuzudu"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Kestrel"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Kestrel"
  SetOutPath "$INSTDIR"
  File "${BINDIR}\Kestrel.exe"
  File "${BINDIR}\tone.wav"
  File "${BINDIR}\notify.wav"
  File "${BINDIR}\error.wav"
  ; The vendor's VaVoRar.dll comes with the adapter's driver package and is not shipped here.
  CreateDirectory "$INSTDIR\wav"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\DeRU Zarar Urorezu Vuzudu.lnk" "$INSTDIR\Kestrel.exe" "" "" 0 SW_SHOWNORMAL "" "" "" 
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrel" "DisplayName" "DeRU Zarar Urorezu Vuzudu"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrel" "UninstallString" '"$INSTDIR\Uninstall.exe"'
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\Kestrel.exe"
  Delete "$INSTDIR\tone.wav"
  Delete "$INSTDIR\notify.wav"
  Delete "$INSTDIR\error.wav"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$SMPROGRAMS\DeRU Zarar Urorezu Vuzudu.lnk"
  ; The recorded playbacks and wavefilesetup.ini are the user's; they stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrel"
SectionEnd
