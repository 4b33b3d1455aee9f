; The Windows installer: the program with a Start menu entry and an
; uninstaller, the VST plug-in in a folder the user picks, the CLAP plug-in
; (when built) in the common CLAP folder. Made by make-packages.sh:
;   makensis -DVERSION=1.0.0 -DSTAGE=dir -DOUTFILE=setup.exe [-DWITH_CLAP] [-DWITH_CONSOLE] zelo.nsi
; Silent: setup.exe /S [/VSTDIR=folder] [/D=program folder, last]
; Uninstall silently: uninstall.exe /S
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define KEY "Software\zelo"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\zelo"
!define STARTMENU "$SMPROGRAMS\zelo"

Name "zelo ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\zelo"
InstallDirRegKey HKLM "${KEY}" "InstallDir"
BrandingText "zelo ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "zelo"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "zelo ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "Copyright (c) the zelo authors (ISC licence)"
VIAddVersionKey "CompanyName" "the zelo authors"

Var VstDir
; The folders this installation made (removed again when empty on uninstall).
Var MadeVstDir
Var MadeVstParent
Var MadeClapDir

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_PAGE_HEADER_TEXT "VST plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where your host looks for VST plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_TOP "The VST plug-in zelo.dll goes into this folder. Choose the folder your host scans for VST plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST plug-in folder"
!define MUI_DIRECTORYPAGE_VARIABLE $VstDir
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\zelo.exe"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext all
  ; The VST folder: a previous installation's, else the one hosts were told
  ; about in the registry, else the usual one; /VSTDIR= overrides.
  ReadRegStr $VstDir HKLM "${KEY}" "VstDir"
  ${If} $VstDir == ""
    ReadRegStr $VstDir HKLM "Software\VST" "VSTPluginsPath"
  ${EndIf}
  ${If} $VstDir == ""
    StrCpy $VstDir "$PROGRAMFILES\Steinberg\VstPlugins"
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/VSTDIR=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 != ""
    StrCpy $VstDir $R1
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "zelo"
  SetOutPath "$INSTDIR"
  File "${STAGE}\zelo.exe"
!ifdef WITH_CONSOLE
  File "${STAGE}\zelo.com"
!endif
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The VST plug-in. A reinstall keeps the folders first made as made.
  ReadRegDWORD $MadeVstDir HKLM "${KEY}" "MadeVstDir"
  ReadRegDWORD $MadeVstParent HKLM "${KEY}" "MadeVstParent"
  ${GetParent} $VstDir $R0
  ${IfNot} ${FileExists} "$R0\*.*"
    StrCpy $MadeVstParent 1
  ${EndIf}
  ${IfNot} ${FileExists} "$VstDir\*.*"
    StrCpy $MadeVstDir 1
  ${EndIf}
  SetOutPath "$VstDir"
  File "${STAGE}\zelo.dll"

!ifdef WITH_CLAP
  ReadRegDWORD $MadeClapDir HKLM "${KEY}" "MadeClapDir"
  ${IfNot} ${FileExists} "$COMMONFILES\CLAP\*.*"
    StrCpy $MadeClapDir 1
  ${EndIf}
  SetOutPath "$COMMONFILES\CLAP"
  File "${STAGE}\zelo.clap"
!endif

  SetOutPath "$INSTDIR"
  CreateDirectory "${STARTMENU}"
  CreateShortcut "${STARTMENU}\zelo.lnk" "$INSTDIR\zelo.exe" "" "$INSTDIR\zelo.exe" 0
  CreateShortcut "${STARTMENU}\Uninstall zelo.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "VstDir" "$VstDir"
  WriteRegStr HKLM "${KEY}" "Version" "${VERSION}"
  ${If} $MadeVstDir == 1
    WriteRegDWORD HKLM "${KEY}" "MadeVstDir" 1
  ${EndIf}
  ${If} $MadeVstParent == 1
    WriteRegDWORD HKLM "${KEY}" "MadeVstParent" 1
  ${EndIf}
  ${If} $MadeClapDir == 1
    WriteRegDWORD HKLM "${KEY}" "MadeClapDir" 1
  ${EndIf}

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "zelo ${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "the zelo authors"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\zelo.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  ReadRegStr $VstDir HKLM "${KEY}" "VstDir"
  ReadRegDWORD $MadeVstDir HKLM "${KEY}" "MadeVstDir"
  ReadRegDWORD $MadeVstParent HKLM "${KEY}" "MadeVstParent"
  ReadRegDWORD $MadeClapDir HKLM "${KEY}" "MadeClapDir"

  ${If} $VstDir != ""
    Delete "$VstDir\zelo.dll"
    ${If} $MadeVstDir == 1
      RMDir "$VstDir"
      ${If} $MadeVstParent == 1
        ${GetParent} $VstDir $R0
        RMDir "$R0"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Delete "$COMMONFILES\CLAP\zelo.clap"
  ${If} $MadeClapDir == 1
    RMDir "$COMMONFILES\CLAP"
  ${EndIf}

  Delete "${STARTMENU}\zelo.lnk"
  Delete "${STARTMENU}\Uninstall zelo.lnk"
  RMDir "${STARTMENU}"

  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "${KEY}"

  ; The program folder last: once it is gone, the uninstall is complete.
  Delete "$INSTDIR\zelo.exe"
  Delete "$INSTDIR\zelo.com"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
