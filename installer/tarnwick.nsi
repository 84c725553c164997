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

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetShellVarContext all
  ; The new program closes every running instance, wherever it was started
  ; from, so that none holds the file about to be replaced. A program that
  ; was running (it has its tray window) is started again at the end.
  FindWindow $1 "Tarnwick_TrayClass"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\tarnwick.exe" "${PROGRAM_EXE}"
  ExecWait '"$PLUGINSDIR\tarnwick.exe" --close'
  Delete "$PLUGINSDIR\tarnwick.exe"

  SetOutPath "$INSTDIR"
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

  ; The logon task starts the program at every logon; without it the program
  ; still runs when started by hand.
  ExecWait '"$INSTDIR\tarnwick.exe" --install' $0
  DetailPrint "Logon task registration exit code: $0"

  IntCmp $1 0 +2
    Exec '"$INSTDIR\tarnwick.exe"'
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
