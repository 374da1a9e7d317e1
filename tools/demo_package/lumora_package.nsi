; Demo package of LumoraMP3转换器: installs the stand-in application the way the real package does.
;
; Defines given on the makensis command line:
;   VERSION    version written to the uninstall entry (required), e.g. 2.0.0
;   APP_EXE    the stand-in application to install as lumora.exe (required)
;   OUT_FILE   where to write the package (required)
;   EXIT_CODE  when set: installs nothing and exits with this code (failure variants)
;   RELEASE_FILE  when set: before installing, waits until this file exists (at most a minute),
;                 so that a test decides how long the package runs
;
; Switches: /S (silent), /CHANNEL=, /BING_CLICK_ID=, /DESKTOP_SHORTCUT=0|1,
; /START_MENU_SHORTCUT=0|1 and /D=folder (last, unquoted, the rest of the line).
; Every run that installs leaves $INSTDIR\setup_command_line.txt (UTF-16LE with BOM), one item a
; line: exactly what ${GetParameters} returned (NSIS has already cut " /D=..." off), $INSTDIR,
; VERSION, the TEMP and TMP it was given, its working folder, its $PLUGINSDIR and the value of
; the variable LUM_PLANTED in its environment (empty when it has none; tests plant it).

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "FileFunc.nsh"
!include "LogicLib.nsh"

!ifndef VERSION
  !error "define VERSION"
!endif
!ifndef APP_EXE
  !error "define APP_EXE"
!endif
!ifndef OUT_FILE
  !error "define OUT_FILE"
!endif

!define PRODUCT_NAME "LumoraMP3转换器"
!define PUBLISHER "Velmont Harbor Network Technology Co., Ltd."
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC"
!define RECORD_FILE "setup_command_line.txt"

Name "${PRODUCT_NAME}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\VIVOV3"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT_NAME} 安装程序"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Params
Var Channel
Var ClickId
Var DesktopShortcut
Var StartMenuShortcut

; Value of one switch, or the default when the switch is absent.
!macro OptionOr VAR SWITCH DEFAULT
  ClearErrors
  ${GetOptions} $Params "${SWITCH}" ${VAR}
  ${If} ${Errors}
    StrCpy ${VAR} "${DEFAULT}"
  ${EndIf}
!macroend

Section "Install"
  ${GetParameters} $Params
  ; Before SetOutPath changes it.
  System::Call 'kernel32::GetCurrentDirectoryW(i ${NSIS_MAX_STRLEN}, w .r3)'

!ifdef RELEASE_FILE
  StrCpy $4 0
  ${Do}
    ${If} ${FileExists} "${RELEASE_FILE}"
    ${OrIf} $4 >= 600
      ${ExitDo}
    ${EndIf}
    Sleep 100
    IntOp $4 $4 + 1
  ${Loop}
!endif

!ifdef EXIT_CODE
  SetErrorLevel ${EXIT_CODE}
  Quit
!endif

  !insertmacro OptionOr $Channel "/CHANNEL=" "guanwang"
  !insertmacro OptionOr $ClickId "/BING_CLICK_ID=" ""
  !insertmacro OptionOr $DesktopShortcut "/DESKTOP_SHORTCUT=" "1"
  !insertmacro OptionOr $StartMenuShortcut "/START_MENU_SHORTCUT=" "1"

  ; A machine-wide installation: shortcuts for all users, beside the HKLM entry.
  SetShellVarContext all
  SetOverwrite on
  SetOutPath "$INSTDIR"
  File "/oname=lumora.exe" "${APP_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ReadEnvStr $1 TEMP
  ReadEnvStr $2 TMP
  ReadEnvStr $5 LUM_PLANTED
  ClearErrors
  FileOpen $0 "$INSTDIR\${RECORD_FILE}" w
  ${IfNot} ${Errors}
    FileWriteUTF16LE /BOM $0 "$Params$\r$\n$INSTDIR$\r$\n${VERSION}$\r$\n$1$\r$\n$2$\r$\n$3$\r$\n$PLUGINSDIR$\r$\n$5$\r$\n"
    FileClose $0
  ${EndIf}

  ${If} $DesktopShortcut == "1"
    CreateShortCut "$DESKTOP\${PRODUCT_NAME}.lnk" "$INSTDIR\lumora.exe"
  ${EndIf}
  ${If} $StartMenuShortcut == "1"
    CreateDirectory "$SMPROGRAMS\${PRODUCT_NAME}"
    CreateShortCut "$SMPROGRAMS\${PRODUCT_NAME}\${PRODUCT_NAME}.lnk" "$INSTDIR\lumora.exe"
  ${EndIf}

  SetRegView 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumora.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Channel" "$Channel"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} $ClickId != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "BingClickId" "$ClickId"
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$DESKTOP\${PRODUCT_NAME}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT_NAME}\${PRODUCT_NAME}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT_NAME}"
  Delete "$INSTDIR\lumora.exe"
  Delete "$INSTDIR\lumora_started.txt"
  Delete "$INSTDIR\${RECORD_FILE}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetRegView 64
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
