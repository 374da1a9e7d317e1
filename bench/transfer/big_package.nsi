; A package of the benchmark: installs the stand-in application like the demo package, plus a
; bulk file stored without compression, so that the package is as large as the bulk file.
;
; With LUM_BENCH_START_FILE set in its environment it writes there, first thing, when its own code
; started and when its process was created, as FILETIME values (100 ns units since 1601, UTC):
; "started=N created=N". The hand-over benchmark sets it; nothing else does.
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

Function .onInit
  ReadEnvStr $0 LUM_BENCH_START_FILE
  StrCmp $0 "" done
  ; Taken before anything else; only the System plug-in's own unpacking comes earlier.
  System::Call 'kernel32::GetSystemTimePreciseAsFileTime(*l .r1)'
  System::Call 'kernel32::GetProcessTimes(p -1, *l .r2, *l .r3, *l .r4, *l .r5)'
  FileOpen $3 $0 w
  FileWrite $3 "started=$1 created=$2$\r$\n"
  FileClose $3
done:
FunctionEnd

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
