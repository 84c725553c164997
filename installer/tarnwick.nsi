; The Tarnwick installer: puts tarnwick.exe into the 64-bit Program Files
; folder, registers its logon task and an uninstaller. "/S" runs it silently,
; as the updater does. Built by installer/CMakeLists.txt, which passes:
;   PROGRAM_EXE  the tarnwick.exe to install
;   OUTFILE      the installer to write
;   VERSION      the program's version, four numbers
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef PROGRAM_EXE | OUTFILE | VERSION
  !error "PROGRAM_EXE, OUTFILE and VERSION must be defined"
!endif

!define PRODUCT "Tarnwick"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PRODUCT}"

; The program runs with the highest rights at every logon: it goes nowhere
; but Program Files, whatever "/D=" asks.
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetShellVarContext all
  ; The new program closes every running instance, wherever it was started
  ; from, so that none holds the file about to be replaced. It runs from the
  ; installation folder, which only administrators can change: never from
  ; $PLUGINSDIR or %TEMP%, where the user's ordinary programs could put a DLL
  ; that this elevated process would load. A program that was running (it has
  ; its tray window) is started again at the end, by its logon task.
  FindWindow $1 "Tarnwick_TrayClass"
  SetOutPath "$INSTDIR"
  ClearErrors
  File "/oname=$INSTDIR\tarnwick-closer.exe" "${PROGRAM_EXE}"
  IfErrors 0 +3
    SetErrorLevel 2
    Abort "Cannot write $INSTDIR\tarnwick-closer.exe"
  ExecWait '"$INSTDIR\tarnwick-closer.exe" --close'
  Delete "$INSTDIR\tarnwick-closer.exe"

  ClearErrors
  File "/oname=tarnwick.exe" "${PROGRAM_EXE}"
  IfErrors 0 +3
    SetErrorLevel 2
    Abort "Cannot write $INSTDIR\tarnwick.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarnwick.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The logon task starts the program at every logon. "--install" refuses
  ; (exit code 1) when anyone but administrators could replace the program,
  ; and fails when the task cannot be registered.
  ClearErrors
  ExecWait '"$INSTDIR\tarnwick.exe" --install' $0
  IfErrors 0 +2
    StrCpy $0 "not started"

  StrCmp $0 "0" 0 task_failed
    ; The program that was running comes back through its logon task, which
    ; starts it for the users it was closed for, each with their own rights:
    ; never as this installer's account, which may be an administrator who
    ; only approved the update on a standard user's desktop.
    IntCmp $1 0 done
      Exec '"$SYSDIR\schtasks.exe" /Run /TN "${PRODUCT}"'
    Goto done
  task_failed:
    DetailPrint "Logon task registration failed: $0"
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} was copied to $INSTDIR, but its logon task could not be registered ($\"tarnwick.exe --install$\" ended with $0). ${PRODUCT} will not start at logon; start it from $INSTDIR." /SD IDOK
    SetErrorLevel 3
    Abort "The logon task could not be registered."
  done:
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ExecWait '"$INSTDIR\tarnwick.exe" --close'
  ExecWait '"$INSTDIR\tarnwick.exe" --uninstall'
  Delete "$INSTDIR\tarnwick.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
