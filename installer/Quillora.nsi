; Quillora-Setup.exe (Quillora-Setup-TESTKEY.exe from a build that trusts
; the TEST update key, which makensis is told with TESTKEY): a per-user installation of tolv.exe, update.exe and
; the help document, without elevation: the program folder, the Start-menu
; shortcut, the logon start and the uninstall entry are the user's own, so no
; other account can change the program this user runs. makensis gets VERSION, VERSION_QUAD, PUBLISHER, TARGET
; (x86-unicode or amd64-unicode), PROGRAM_DIR, PICTURES and OUTFILE from the build.

Unicode true
Target ${TARGET}
ManifestSupportedOS all
; Sharp at any scale: per-monitor where Windows 10 can, else the system's DPI.
ManifestDPIAware true
ManifestDPIAwareness "PerMonitorV2,System"
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include Sections.nsh

!define PRODUCT "Quillora"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillora"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "tolv"
!define SETTINGS_ROOT "SOFTWARE\Orvane\TOLV"
; The tray form's window class and the command id of its menu's "E&xit".
!define TRAY_CLASS "QuilloraTray"
!define TRAY_EXIT_COMMAND 4
!define UNINSTALLER "uninstall.exe"

!ifdef TESTKEY
; Its window titles, pages and version information say what it is: a build
; that installs any update signed with the key whose private half is public.
Name "${PRODUCT} TESTKEY"
!else
Name "${PRODUCT}"
!endif
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the last installation went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"
!ifdef TESTKEY
VIAddVersionKey "Comments" "TESTKEY: a test build that trusts the public TEST update key; never publish it"
!endif

!define MUI_ICON "${PICTURES}/main.ico"
!define MUI_UNICON "${PICTURES}/main.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Quillora"
!define MUI_FINISHPAGE_RUN_FUNCTION StartQuillora
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Asks every running tolv to exit as its tray menu's "E&xit" does, and waits
; until the program file is free. A delivery in progress refuses the exit.
!macro CLOSE_QUILLORA prefix
Function ${prefix}CloseQuillora
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${TRAY_CLASS}"
    ${If} $0 == 0
      ; Windows keeps a running program's file locked until its process ends.
      ${If} ${FileExists} "$INSTDIR\tolv.exe"
        ClearErrors
        FileOpen $2 "$INSTDIR\tolv.exe" a
        ${IfNot} ${Errors}
          FileClose $2
          Return
        ${EndIf}
      ${Else}
        Return
      ${EndIf}
    ${Else}
      SendMessage $0 ${WM_COMMAND} ${TRAY_EXIT_COMMAND} 0 /TIMEOUT=2000
    ${EndIf}
    Sleep 250
    IntOp $1 $1 + 1
    ${If} $1 >= 40
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Quillora is still running, most likely delivering an issue.$\n$\nPlease let the delivery end or cancel it, then click Retry." \
        /SD IDCANCEL IDRETRY +2
      Abort "Quillora is still running."
      StrCpy $1 0
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_QUILLORA ""
!insertmacro CLOSE_QUILLORA "un."

Section "Quillora" SecProgram
  SectionIn RO
  Call CloseQuillora
  ; data\ and the library stay beside the program, and update.exe replaces
  ; tolv.exe as the user: the folder's inherited rights already allow both.
  SetOutPath "$INSTDIR"
  File "${PROGRAM_DIR}/tolv.exe"
  File "${PROGRAM_DIR}/update.exe"
  File "${PROGRAM_DIR}/Quillora Help.pdf"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  SetShellVarContext current
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\tolv.exe" "" "$INSTDIR\tolv.exe" 0

  ; The quoted command tolv itself enters; where it finds the machine's Run
  ; key writable it moves the value there.
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\tolv.exe"'

  SectionGetSize ${SecProgram} $0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tolv.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function StartQuillora
  Exec '"$INSTDIR\tolv.exe"'
FunctionEnd

; The logon start of this copy, quoted or not; another copy's stays.
!macro REMOVE_RUN_VALUE root
  ReadRegStr $0 ${root} "${RUN_KEY}" "${RUN_VALUE}"
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
  ${EndIf}
  StrLen $2 "$INSTDIR\"
  StrCpy $1 $0 $2
  ${If} $1 == "$INSTDIR\"
    DeleteRegValue ${root} "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
!macroend

Section "un.Quillora" SecUnProgram
  SectionIn RO
  Call un.CloseQuillora
  Delete "$INSTDIR\tolv.exe"
  Delete "$INSTDIR\update.exe"
  Delete "$INSTDIR\Quillora Help.pdf"

  SetShellVarContext current
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  ; A tolv that could write the machine's registry (an administrator without
  ; UAC) keeps its values there; elsewhere these removals simply fail.
  !insertmacro REMOVE_RUN_VALUE HKLM
  !insertmacro REMOVE_RUN_VALUE HKCU
  DeleteRegKey HKLM "${SETTINGS_ROOT}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Orvane"
  DeleteRegKey HKCU "${SETTINGS_ROOT}"
  DeleteRegKey /ifempty HKCU "SOFTWARE\Orvane"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Also remove my magazines" SecUnLibrary
  RMDir /r "$INSTDIR\My Magazines"
  RMDir /r "$INSTDIR\My Torrents"
  RMDir /r "$INSTDIR\data"
SectionEnd

; The uninstaller's own file goes last: while it is there, the work is not done.
Section "-un.Finish"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
SectionEnd

; /REMOVEMAGAZINES ticks "Also remove my magazines" for a silent uninstall.
Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEMAGAZINES" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecUnLibrary} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
