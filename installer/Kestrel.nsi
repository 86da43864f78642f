; Setup program for Kestrel: the program for every user of the PC in Program Files, and a data
; folder per user (%APPDATA%\Kestrel: settings, recordings, prompts) that KestrelStart.exe makes
; on first use, because Kestrel keeps its files in its current folder.
;   makensis -DBINDIR=<dir with the prompts> -DRELDIR=<dir with the release programs> Kestrel.nsi
; Silent:  KestrelSetup.exe /S [/STARTUP] [/LAB] [/D=<folder>]
;          Uninstall.exe /S [/REMOVEDATA]   (recordings are kept unless /REMOVEDATA is given)
Unicode true
!ifndef BINDIR
  !define BINDIR "..\build\win32\bin"
!endif
!ifndef RELDIR
  !define RELDIR "..\build\win32\release"
!endif
!ifndef OUTFILE
  !define OUTFILE "KestrelSetup.exe"
!endif

!define PRODUCT "DeRU Zarar Urorezu Vuzudu"
!define VERSION "2.00"
!define PUBLISHER "Kestrel"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrel"
!define ACTIVE_SETUP_KEY "Software\Microsoft\Active Setup\Installed Components\Kestrel"
!define LAB_LINK "$SMPROGRAMS\${PRODUCT} - Try without an adapter.lnk"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Kestrel"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

VIProductVersion "2.0.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" ""

Var RemoveData

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartFromShortcut
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running Kestrel holds its files open: ask for it to be ended (a silent run gives up).
!macro EndKestrelFirst un
Function ${un}EndKestrelFirst
  retry:
    FindWindow $0 "#32770" "${PRODUCT}"
    ${If} $0 <> 0
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${PRODUCT} is running. End it (Exit in its window or tray menu), then choose Retry." \
        /SD IDCANCEL IDRETRY retry
      SetErrorLevel 2
      Quit
    ${EndIf}
FunctionEnd
!macroend
!insertmacro EndKestrelFirst ""
!insertmacro EndKestrelFirst "un."

Section "${PRODUCT}" SecMain
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${RELDIR}\Kestrel.exe"
  File "${RELDIR}\KestrelStart.exe"
  ; The prompts each user's data folder is seeded with.
  File "${BINDIR}\tone.wav"
  File "${BINDIR}\notify.wav"
  File "${BINDIR}\error.wav"
  ; The vendor's VaVoRar.dll comes with the adapter's driver package and is not shipped here.
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Shortcuts run the launcher, which makes the user's data folder if need be and starts
  ; Kestrel.exe in it; their working folder says where that is (the shell expands it per user).
  StrCpy $OUTDIR "%APPDATA%\Kestrel"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\KestrelStart.exe" "" \
    "$INSTDIR\Kestrel.exe" 0 SW_SHOWNORMAL "" "Telephone adapter for Skype"

  ; Every other user gets the data folder at their next logon, before any shortcut is used.
  WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "" "${PRODUCT}"
  WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "StubPath" '"$INSTDIR\KestrelStart.exe" --prepare'
  WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "Version" "2,0,0,0"
  WriteRegDWORD HKLM "${ACTIVE_SETUP_KEY}" "IsInstalled" 1
  ; The installing user's now.
  ExecWait '"$INSTDIR\KestrelStart.exe" --prepare' $0
  ${If} $0 <> 0
    DetailPrint "Could not make the data folder $APPDATA\Kestrel (it is made at the first start)"
  ${EndIf}
SectionEnd

Section /o "Start at logon" SecStartup
  SetShellVarContext current
  StrCpy $OUTDIR "%APPDATA%\Kestrel"
  CreateShortcut "$SMSTARTUP\${PRODUCT}.lnk" "$INSTDIR\KestrelStart.exe" "" \
    "$INSTDIR\Kestrel.exe" 0 SW_SHOWNORMAL
  SetShellVarContext all
SectionEnd

; The lab's stand-in VaVoRar.dll never goes beside Kestrel.exe, where it would shadow the vendor's.
Section /o "Try without an adapter" SecLab
  SetShellVarContext all
  SetOutPath "$INSTDIR\Lab"
  File "${RELDIR}\Lab\phonelab.exe"
  File "${RELDIR}\Lab\VaVoRar.dll"
  File "/oname=demo.scn" "try.scn"
  StrCpy $OUTDIR "%LOCALAPPDATA%\Kestrel\Lab"
  CreateShortcut "${LAB_LINK}" "$INSTDIR\KestrelStart.exe" "--demo" "$INSTDIR\Kestrel.exe" 0 \
    SW_SHOWNORMAL "" "A simulated adapter and a Skype stand-in"
SectionEnd

Section "-Register"
  SetShellVarContext all
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Kestrel.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

; Not from this elevated process: Skype, which runs without elevation, could not send to an
; elevated Kestrel. The running Explorer starts the shortcut as the user.
Function StartFromShortcut
  SetShellVarContext all
  Exec '"$WINDIR\explorer.exe" "$SMPROGRAMS\${PRODUCT}.lnk"'
FunctionEnd

Function .onInit
  SetShellVarContext all
  Call EndKestrelFirst
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/STARTUP" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecStartup} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/LAB" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecLab} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "The program, and a shortcut in the Start menu."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecStartup} "Start ${PRODUCT} when you log on."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecLab} \
    "A simulated adapter and a Skype stand-in in a folder of their own, with a shortcut that runs a short demo."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function un.onInit
  SetShellVarContext all
  Call un.EndKestrelFirst
  StrCpy $RemoveData 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveData 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\Kestrel.exe"
  Delete "$INSTDIR\KestrelStart.exe"
  Delete "$INSTDIR\tone.wav"
  Delete "$INSTDIR\notify.wav"
  Delete "$INSTDIR\error.wav"
  Delete "$INSTDIR\Lab\phonelab.exe"
  Delete "$INSTDIR\Lab\VaVoRar.dll"
  Delete "$INSTDIR\Lab\demo.scn"
  RMDir "$INSTDIR\Lab"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "${LAB_LINK}"
  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "${ACTIVE_SETUP_KEY}"

  ; The uninstalling user's own folders. The prompts and the lab's scratch folder are ours; the
  ; recordings and the slot choices are the user's, removed only when asked.
  SetShellVarContext current
  Delete "$SMSTARTUP\${PRODUCT}.lnk"
  RMDir /r "$LOCALAPPDATA\Kestrel\Lab"
  RMDir "$LOCALAPPDATA\Kestrel"
  StrCpy $0 "$APPDATA\Kestrel"
  Delete "$0\tone.wav"
  Delete "$0\notify.wav"
  Delete "$0\error.wav"
  ${If} $RemoveData = 0
  ${AndIf} ${FileExists} "$0\*.*"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "Also remove your recorded playbacks and slot choices in $0?" /SD IDNO IDNO keep
    StrCpy $RemoveData 1
  keep:
  ${EndIf}
  ${If} $RemoveData = 1
    RMDir /r "$0\wav"
    Delete "$0\wavefilesetup.ini"
  ${EndIf}
  ; Only if nothing else is left in them.
  RMDir "$0\wav"
  RMDir "$0"
SectionEnd
