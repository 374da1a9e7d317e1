; A package of the benchmark: installs the stand-in application like the demo package, plus a
; bulk file stored without compression, so that the package is as large as the bulk file.
;
; Defines given on the makensis command line (all required):
;   VERSION   version written to the uninstall entry, e.g. 2.0.0
;   APP_EXE   the stand-in application to install as lumora.exe
;   BULK      the bulk file to carry and install as payload.bin
;   OUT_FILE  where to write the package

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompress off
; The bootstrapper has already verified size, digest and signature.
CRCCheck off

!define PRODUCT_NAME "LumoraMP3转换器"
!define PUBLISHER "Velmont Harbor Network Technology Co., Ltd."
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC"

Name "${PRODUCT_NAME}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\VIVOV3"
ShowInstDetails nevershow
Page directory
Page instfiles

Section "Install"
  SetOverwrite on
  SetOutPath "$INSTDIR"
  File "/oname=lumora.exe" "${APP_EXE}"
  File "/oname=payload.bin" "${BULK}"
  SetRegView 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
SectionEnd
