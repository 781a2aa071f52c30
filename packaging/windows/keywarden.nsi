; Keywarden setup: one 32-bit program for 32-bit and 64-bit Windows.
;   makensis -DVERSION=1.2.3.4 -DX86=<32-bit install tree> -DX64=<64-bit install tree>
;            -DSOURCE=<source tree> -DOUTFILE=<setup.exe> [-DDEVKIT] [-DSIGN=<sign.sh>] keywarden.nsi
; X86 and X64 are `cmake --install` trees (bin/, lib/). DEVKIT adds the stand-ins of the outside
; components and the software-key helpers, for trying the kit without hardware. SIGN is the
; command that signs a file in place (make-installer.sh passes sign.sh): it signs the uninstaller
; before it is packed into the setup, and the setup program once written.
;
; Per-machine install (administrator): Program Files\Keywarden, a Start-menu entry for all users,
; autostart at every user's logon through HKLM\...\Run with "/min", an uninstall entry in
; Programs and Features. config.ini (loglevel) is written once and kept on upgrade.
; Before any file is replaced or removed, a running Keywarden gets UM_QUIT and is waited for, so
; that it takes its certificates out of the store and leaves no file in use.
Unicode True
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!ifdef TARGET
Target ${TARGET}
!endif
!ifdef SIGN
!uninstfinalize '"${SIGN}" "%1"' = 0
!finalize '"${SIGN}" "%1"' = 0
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define PRODUCT "Keywarden"
!define PUBLISHER "UKey middleware kit"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Keywarden"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_KEY "Software\Keywarden"
; Keywarden's own quit request (main dialog) and the class of its window.
!define UM_QUIT 0x0501
!define WINDOW_CLASS "KEVAClientClass"
!define QUIT_WAIT_MS 20000

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${SETTINGS_KEY}" "InstallDir"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "${PRODUCT} ${VERSION}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Keywarden.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "/min"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "TradChinese"
!insertmacro MUI_LANGUAGE "English"

LangString QuitFailed ${LANG_SIMPCHINESE} "${PRODUCT} 没有退出。请退出 ${PRODUCT} 后重试。"
LangString QuitFailed ${LANG_TRADCHINESE} "${PRODUCT} 沒有結束。請結束 ${PRODUCT} 後重試。"
LangString QuitFailed ${LANG_ENGLISH} "${PRODUCT} did not quit. Quit ${PRODUCT} and try again."

Var WasRunning

; Asks every Keywarden window of this desktop to quit and waits until its process has ended.
; $WasRunning becomes 1 when one was running. Aborts when one does not end in time.
!macro QUIT_KEYWARDEN prefix
Function ${prefix}QuitKeywarden
    StrCpy $WasRunning 0
    ${Do}
        FindWindow $0 "${WINDOW_CLASS}" ""
        ${If} $0 == 0
            ${ExitDo}
        ${EndIf}
        StrCpy $WasRunning 1
        System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1) i"
        ; SYNCHRONIZE: enough to wait for the end.
        System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"
        DetailPrint "${WINDOW_CLASS}: UM_QUIT"
        System::Call "user32::PostMessage(p r0, i ${UM_QUIT}, p 0, p 0) i"
        ${If} $2 P<> 0
            System::Call "kernel32::WaitForSingleObject(p r2, i ${QUIT_WAIT_MS}) i .r3"
            System::Call "kernel32::CloseHandle(p r2)"
        ${Else}
            StrCpy $3 1
        ${EndIf}
        ${If} $3 != 0
            ; The window may still be going away without a process handle: look once more.
            Sleep 1000
            FindWindow $4 "${WINDOW_CLASS}" ""
            ${If} $4 == $0
                MessageBox MB_OK|MB_ICONSTOP "$(QuitFailed)" /SD IDOK
                SetErrorLevel 3
                Abort
            ${EndIf}
        ${EndIf}
    ${Loop}
FunctionEnd
!macroend
!insertmacro QUIT_KEYWARDEN ""
!insertmacro QUIT_KEYWARDEN "un."

Function .onInit
    SetShellVarContext all
    ; An earlier install keeps its folder.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        StrCpy $INSTDIR $0
    ${EndIf}
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section "Keywarden" SecMain
    SectionIn RO
    Call QuitKeywarden
    SetOutPath "$INSTDIR"
    File "${X86}\bin\Keywarden.exe"
    ; The settings file is the administrator's: written once, kept on upgrade.
    SetOverwrite off
    File "config.ini"
    SetOverwrite on

    ; The seal libraries for 32-bit hosts, with headers and import libraries.
!if /FileExists "${X86}\bin\Sealform.dll"
    File "${X86}\bin\Sealform.dll"
    File "${X86}\bin\Sealgate.dll"
    SetOutPath "$INSTDIR\lib"
    File "${X86}\lib\libSealform.dll.a"
    File "${X86}\lib\libSealgate.dll.a"
!endif
    SetOutPath "$INSTDIR\include"
    File "${SOURCE}\sealform\include\sealform.h"
    File "${SOURCE}\sealgate\include\sealgate.h"

    ; 64-bit Windows: the libraries for 64-bit hosts in a folder of their own.
!if /FileExists "${X64}\bin\Sealform.dll"
    ${If} ${RunningX64}
        SetOutPath "$INSTDIR\x64"
        File "${X64}\bin\Sealform.dll"
        File "${X64}\bin\Sealgate.dll"
        SetOutPath "$INSTDIR\x64\lib"
        File "${X64}\lib\libSealform.dll.a"
        File "${X64}\lib\libSealgate.dll.a"
    ${EndIf}
!endif

!ifdef DEVKIT
    ; Development variant: the device library stand-in beside Keywarden (software keys of the
    ; folder SOFTKEY_STORE names), the softkey tool that makes keys and plugs them in and out
    ; (it tells running Keywarden windows itself; it needs the file cipher stand-in beside it
    ; for maker documents), and the program that announces a software key's arrival on its own.
    SetOutPath "$INSTDIR"
    File "${X86}\bin\KEVA_QMB4410_LIB.dll"
    File "${X86}\bin\softkey.exe"
    File "${X86}\bin\SecureModelCollection.dll"
    File "${X86}\bin\softkey-notify.exe"
  !if /FileExists "${X86}\bin\UKeyDriver.dll"
    File "${X86}\bin\UKeyDriver.dll"
    File /nonfatal "${X86}\bin\signaturemodule.dll"
    File /nonfatal "${X86}\bin\CertificateSDK.dll"
    File /nonfatal "${X86}\bin\RZLog.dll"
  !endif
  !if /FileExists "${X64}\bin\UKeyDriver.dll"
    ${If} ${RunningX64}
        SetOutPath "$INSTDIR\x64"
        File "${X64}\bin\UKeyDriver.dll"
        File /nonfatal "${X64}\bin\signaturemodule.dll"
        File /nonfatal "${X64}\bin\CertificateSDK.dll"
        File /nonfatal "${X64}\bin\SecureModelCollection.dll"
        File /nonfatal "${X64}\bin\RZLog.dll"
    ${EndIf}
  !endif
!endif

    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Keywarden.exe"
    WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\Keywarden.exe" /min'
    WriteRegStr HKLM "${SETTINGS_KEY}" "InstallDir" "$INSTDIR"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Keywarden.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; A Keywarden that was running before the upgrade runs again, once, the way logon starts it.
    ${If} $WasRunning == 1
        Exec '"$INSTDIR\Keywarden.exe" /min'
    ${EndIf}
SectionEnd

Section "Uninstall"
    Call un.QuitKeywarden
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"

    Delete "$INSTDIR\Keywarden.exe"
    Delete "$INSTDIR\config.ini"
    Delete "$INSTDIR\Sealform.dll"
    Delete "$INSTDIR\Sealgate.dll"
    Delete "$INSTDIR\KEVA_QMB4410_LIB.dll"
    Delete "$INSTDIR\softkey.exe"
    Delete "$INSTDIR\softkey-notify.exe"
    Delete "$INSTDIR\UKeyDriver.dll"
    Delete "$INSTDIR\signaturemodule.dll"
    Delete "$INSTDIR\CertificateSDK.dll"
    Delete "$INSTDIR\SecureModelCollection.dll"
    Delete "$INSTDIR\RZLog.dll"
    Delete "$INSTDIR\include\sealform.h"
    Delete "$INSTDIR\include\sealgate.h"
    RMDir "$INSTDIR\include"
    Delete "$INSTDIR\lib\libSealform.dll.a"
    Delete "$INSTDIR\lib\libSealgate.dll.a"
    RMDir "$INSTDIR\lib"
    Delete "$INSTDIR\x64\lib\libSealform.dll.a"
    Delete "$INSTDIR\x64\lib\libSealgate.dll.a"
    RMDir "$INSTDIR\x64\lib"
    Delete "$INSTDIR\x64\Sealform.dll"
    Delete "$INSTDIR\x64\Sealgate.dll"
    Delete "$INSTDIR\x64\UKeyDriver.dll"
    Delete "$INSTDIR\x64\signaturemodule.dll"
    Delete "$INSTDIR\x64\CertificateSDK.dll"
    Delete "$INSTDIR\x64\SecureModelCollection.dll"
    Delete "$INSTDIR\x64\RZLog.dll"
    RMDir "$INSTDIR\x64"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
