; The Tarnwick installer: puts tarnwick.exe into the 64-bit Program Files
; folder, registers its logon task, a Start menu entry for all users and an
; uninstaller. "/S" runs it silently, as fleets and the updater do; the
; updater adds "/UPDATE", so that a user who asked for the update learns when
; the install could not be completed. Built by installer/CMakeLists.txt,
; which passes:
;   PROGRAM_EXE  the tarnwick.exe to install
;   OUTFILE      the installer to write
;   VERSION      the program's version, four numbers
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "FileFunc.nsh"

!ifndef PROGRAM_EXE | OUTFILE | VERSION
  !error "PROGRAM_EXE, OUTFILE and VERSION must be defined"
!endif

!define PRODUCT "Tarnwick"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define START_MENU_ENTRY "$SMPROGRAMS\${PRODUCT}.lnk"

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

!define TASK_FAILED_TEXT "${PRODUCT} was installed in $INSTDIR, but its logon task could not be registered ($\"tarnwick.exe --install$\" ended with $0). ${PRODUCT} will not start at logon; start it from the Start menu."

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
  ; A way back after the tray menu's Exit: "--show" opens the main window of
  ; the running instance, or starts one.
  CreateShortcut "${START_MENU_ENTRY}" "$INSTDIR\tarnwick.exe" "--show" "$INSTDIR\tarnwick.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarnwick.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; The uninstaller runs in place ("_?=", which must come last): without it,
  ; NSIS copies the uninstaller into the user's %TEMP% and starts the copy
  ; elevated from there, where the user's ordinary programs could rename the
  ; copy's folder and put their own program in its place.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $2

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
    ; "--install" removes the logon tasks of earlier installs when it refuses
    ; the program, and a failed registration has removed them as well.
    DetailPrint "Logon task registration failed: $0"
    ; A silent install of a fleet shows nothing and ends with exit code 3;
    ; one that the user asked for through the updater must not fail unseen.
    ${GetParameters} $2
    ClearErrors
    ${GetOptions} $2 "/UPDATE" $3
    IfErrors 0 tell_the_user
      MessageBox MB_ICONSTOP|MB_OK "${TASK_FAILED_TEXT}" /SD IDOK
      Goto task_failed_said
    tell_the_user:
      MessageBox MB_ICONSTOP|MB_OK "${TASK_FAILED_TEXT}"
    task_failed_said:
    SetErrorLevel 3
    Abort "The logon task could not be registered."
  done:
SectionEnd

Section "Uninstall"
  ; Started in place (see "UninstallString"): everything this elevated
  ; process starts or loads lies in the program's folder, which only
  ; administrators can change. The exit code is 0 only when the program was
  ; closed, its logon tasks and settings, its files, its Start menu entry
  ; and its uninstall entry are gone; otherwise it is 2 and what is left
  ; stays registered, so that the uninstall can be run again.
  SetShellVarContext all
  ; What it starts runs in the program's folder, not in whatever folder the
  ; uninstaller was started from.
  SetOutPath "$INSTDIR"
  ClearErrors
  ExecWait '"$INSTDIR\tarnwick.exe" --close' $0
  IfErrors uninstall_failed
  ; 0: every instance ended; 1: none was running.
  StrCmp $0 "0" closed
  StrCmp $0 "1" closed uninstall_failed
  closed:
  ClearErrors
  ExecWait '"$INSTDIR\tarnwick.exe" --uninstall' $0
  IfErrors uninstall_failed
  StrCmp $0 "0" 0 uninstall_failed
  Delete "$INSTDIR\tarnwick.exe"
  IfFileExists "$INSTDIR\tarnwick.exe" uninstall_failed
  Delete "${START_MENU_ENTRY}"
  IfFileExists "${START_MENU_ENTRY}" uninstall_failed
  ClearErrors
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  IfErrors uninstall_failed
  ; The running uninstaller, and so its folder, can only go at the next
  ; restart when Windows holds the file until then.
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  Goto uninstalled
  uninstall_failed:
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} could not be removed completely. Close ${PRODUCT} and run the uninstall again." /SD IDOK
    SetErrorLevel 2
    Abort "${PRODUCT} could not be removed completely."
  uninstalled:
SectionEnd
