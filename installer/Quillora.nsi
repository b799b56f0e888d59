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

; The program folder, when this installation made it (or found it empty):
; only then are data\ and the library in it certainly this installation's.
; Kept in the uninstall entry as "CreatedFolder".
Var CreatedFolder

; $1 is $INSTDIR in full; sets $0 to 1 when it lies in the folder given.
!macro IF_UNDER folder
  StrCpy $3 "${folder}\"
  StrLen $2 $3
  StrCpy $4 "$1\" $2
  ${If} $4 == $3
    StrCpy $0 1
  ${EndIf}
!macroend

; A program folder outside the user's profile inherits the rights of where
; it lies: on C:\ every user may add and change files in a new folder, so
; another account could replace the programs this user runs at logon. Such a
; folder gets rights of its own: this user, SYSTEM and Administrators, nothing
; inherited. In the profile the inherited rights are the user's already, and
; stay as they are. The rights are set through the platform's calls, which
; carry them on to what the folder holds.
Function ProtectProgramFolder
  GetFullPathName $1 "$INSTDIR"
  StrCpy $0 0
  !insertmacro IF_UNDER "$PROFILE"
  !insertmacro IF_UNDER "$LOCALAPPDATA"
  ${If} $0 == 1
    Return
  ${EndIf}
  ; The user's SID, as text, from the setup's own token (TOKEN_QUERY, TokenUser).
  StrCpy $6 ""
  System::Call 'advapi32::OpenProcessToken(p -1, i 0x8, *p .r1) i .r0'
  ${If} $0 <> 0
    System::Alloc 1024
    Pop $2
    System::Call 'advapi32::GetTokenInformation(p r1, i 1, p r2, i 1024, *i .r3) i .r0'
    ${If} $0 <> 0
      System::Call '*$2(p .r4)'
      System::Call 'advapi32::ConvertSidToStringSidW(p r4, *p .r5) i .r0'
      ${If} $0 <> 0
        System::Call 'kernel32::lstrcpynW(w .r6, p r5, i ${NSIS_MAX_STRLEN})'
        System::Call 'kernel32::LocalFree(p r5)'
      ${EndIf}
    ${EndIf}
    System::Free $2
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  ${If} $6 == ""
    DetailPrint "Could not read your account's identity: the rights of $INSTDIR stay as they are."
    Return
  ${EndIf}
  ; Full control for the user, SYSTEM and Administrators, for the folder and
  ; everything in it; P: nothing inherited from above.
  StrCpy $0 0
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:PAI(A;OICI;FA;;;$6)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r7, p 0) i .r0'
  ${If} $0 <> 0
    System::Call 'advapi32::GetSecurityDescriptorDacl(p r7, *i .r8, *p .r9, *i .r8) i .r0'
    ${If} $0 <> 0
      ; SE_FILE_OBJECT; DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
      System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i 1, i 0x80000004, p 0, p 0, p r9, p 0) i .r0'
      ${If} $0 == 0
        StrCpy $0 1
      ${Else}
        DetailPrint "Could not set the rights of $INSTDIR (error $0)."
        StrCpy $0 0
      ${EndIf}
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r7)'
  ${EndIf}
  ${If} $0 == 1
    DetailPrint "$INSTDIR lies outside your profile: only you, SYSTEM and Administrators may change it."
  ${EndIf}
FunctionEnd

Section "Quillora" SecProgram
  SectionIn RO
  Call CloseQuillora
  ; data\ and the library stay beside the program, and update.exe replaces
  ; tolv.exe as the user: the folder's rights allow both.
  ${DirState} "$INSTDIR" $R9
  CreateDirectory "$INSTDIR"
  ReadRegStr $CreatedFolder HKCU "${UNINSTALL_KEY}" "CreatedFolder"
  ${If} $R9 < 1
    StrCpy $CreatedFolder "$INSTDIR"
  ${ElseIf} $CreatedFolder != "$INSTDIR"
    StrCpy $CreatedFolder ""
  ${EndIf}
  ; A folder that held something else before keeps its rights: they may
  ; matter to what else is in it.
  ${If} $CreatedFolder != ""
  ${OrIf} ${FileExists} "$INSTDIR\${UNINSTALLER}"
    Call ProtectProgramFolder
  ${Else}
    DetailPrint "$INSTDIR held other files before: its rights stay as they are."
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${PROGRAM_DIR}/tolv.exe"
  File "${PROGRAM_DIR}/update.exe"
  File "${PROGRAM_DIR}/Quillora Help.pdf"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  SetShellVarContext current
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\tolv.exe" "" "$INSTDIR\tolv.exe" 0

  ; The quoted command tolv itself enters, in the user's own Run key.
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
  ${If} $CreatedFolder != ""
    WriteRegStr HKCU "${UNINSTALL_KEY}" "CreatedFolder" "$CreatedFolder"
  ${Else}
    DeleteRegValue HKCU "${UNINSTALL_KEY}" "CreatedFolder"
  ${EndIf}
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

  ; Earlier builds of tolv entered their logon start in the machine's Run key
  ; where they could; this copy's goes, another's stays. Where the machine's
  ; registry is not the user's to write, that removal simply fails. The
  ; machine's settings key may be another copy's, and stays.
  !insertmacro REMOVE_RUN_VALUE HKLM
  !insertmacro REMOVE_RUN_VALUE HKCU
  DeleteRegKey HKCU "${SETTINGS_ROOT}"
  DeleteRegKey /ifempty HKCU "SOFTWARE\Orvane"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Only from a folder this installation made: a folder that was there before
; may hold another copy's library and data, which stay.
Section /o "un.Also remove my magazines" SecUnLibrary
  ${If} $CreatedFolder != ""
  ${AndIf} $CreatedFolder == "$INSTDIR"
    RMDir /r "$INSTDIR\My Magazines"
    RMDir /r "$INSTDIR\My Torrents"
    RMDir /r "$INSTDIR\data"
  ${Else}
    DetailPrint "$INSTDIR was there before Quillora: the magazines and data\ in it stay."
  ${EndIf}
SectionEnd

; The uninstaller's own file goes last: while it is there, the work is not done.
Section "-un.Finish"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
SectionEnd

; /REMOVEMAGAZINES ticks "Also remove my magazines" for a silent uninstall.
Function un.onInit
  ReadRegStr $CreatedFolder HKCU "${UNINSTALL_KEY}" "CreatedFolder"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEMAGAZINES" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecUnLibrary} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
