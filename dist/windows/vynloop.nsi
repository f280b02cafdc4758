; The Windows installer: the agent and the console in one folder (the console starts the agent
; from beside itself, as on Linux), the README, the folder of the store, kept to the
; administrators and the system, a Start menu entry with a command prompt there, and an
; uninstaller that leaves the store in place.
; makensis -DVERSION=... -DSTAGE=DIR -DOUTFILE=FILE vynloop.nsi

Unicode true
; A 64-bit installer, as the programs are: it also runs where Windows has no 32-bit layer.
Target amd64-unicode
Name "vynloop ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\vynloop"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\vynloop"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "vynloop"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${STAGE}/vynloop.exe"
    File "${STAGE}/vynloopctl.exe"
    File "${STAGE}/README.md"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The store's default place is vynloop\mib.db in the program data of all users.
    CreateDirectory "$APPDATA\vynloop"
    nsExec::Exec 'icacls "$APPDATA\vynloop" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F'
    Pop $0

    CreateDirectory "$SMPROGRAMS\vynloop"
    CreateShortCut "$SMPROGRAMS\vynloop\vynloop console.lnk" "$SYSDIR\cmd.exe" \
        '/k cd /d "$INSTDIR" && vynloopctl --help'

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "vynloop"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Delete "$INSTDIR\vynloop.exe"
    Delete "$INSTDIR\vynloopctl.exe"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    RMDir /r "$SMPROGRAMS\vynloop"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
