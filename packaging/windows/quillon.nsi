; Quillon's installer for Windows, one per architecture. scripts/make-windows-downloads.sh
; runs makensis with:
;   -DVERSION=2.0.0        the project's version (CMakeLists.txt)
;   -DARCH=win64|win32     win64: a 64-bit installer putting the 64-bit programs in
;                          $PROGRAMFILES64; win32: a 32-bit one for $PROGRAMFILES
;   -DSTAGE=DIR            the folder holding quillon.exe, quillon-cli.exe, README.txt and
;                          LICENSES.txt
;   -DICON=FILE            the programs' icon
;   -DOUT_FILE=FILE        the installer to write
;
; The programs are single files; the installer adds a Start-menu entry that asks for
; administrator rights (quillon.exe itself starts with the rights it is given, so that it
; opens disk image files without them) and an uninstaller listed in Add/Remove Programs.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma

!if "${ARCH}" == "win64"
  Target amd64-unicode
  !define PRODUCT_KEY "Quillon"
  !define START_FOLDER "Quillon"
  !define DEFAULT_DIR "$PROGRAMFILES64\Quillon"
!else if "${ARCH}" == "win32"
  Target x86-unicode
  ; Beside a 64-bit installation on the same machine: its own key and Start-menu folder.
  !define PRODUCT_KEY "Quillon (32-bit)"
  !define START_FOLDER "Quillon (32-bit)"
  !define DEFAULT_DIR "$PROGRAMFILES\Quillon"
!else
  !error "ARCH is win64 or win32, not ${ARCH}"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_KEY}"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

Name "Quillon ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "${DEFAULT_DIR}"
; A second installation goes where the first one is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Quillon"
VIAddVersionKey /LANG=1033 "CompanyName" "Quillon"
VIAddVersionKey /LANG=1033 "FileDescription" "Quillon ${VERSION} setup (${ARCH})"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Quillon"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillon.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
; What to do first, the fifth button and its report among it.
!define MUI_FINISHPAGE_TEXT "$(FinishText)"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The installer speaks the language of the system's display language, as the programs do:
; Chinese on a Chinese system (.onInit), English on any other. The first language is the
; one used where the system's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString NeedAdmin ${LANG_SIMPCHINESE} "安装 Quillon 需要管理员权限。请右键单击安装程序，选择“以管理员身份运行”。"
LangString NeedAdmin ${LANG_ENGLISH} "Installing Quillon needs administrator rights. Right-click the installer and choose $\"Run as administrator$\"."
LangString RegistryFailed ${LANG_SIMPCHINESE} "无法在注册表中登记卸载程序 (HKLM\${UNINSTALL_KEY})，安装未完成。"
LangString RegistryFailed ${LANG_ENGLISH} "Cannot register the uninstaller in the registry (HKLM\${UNINSTALL_KEY}); the installation is not complete."
LangString ShortcutFailed ${LANG_SIMPCHINESE} "无法创建开始菜单项：$0"
LangString ShortcutFailed ${LANG_ENGLISH} "Cannot create the Start-menu entry: $0"
LangString ShortcutProgram ${LANG_SIMPCHINESE} "寻找并恢复丢失的 Access 数据库（以管理员身份运行）"
LangString ShortcutProgram ${LANG_ENGLISH} "Finds and recovers lost Access databases (runs as administrator)"
LangString ShortcutReadMe ${LANG_SIMPCHINESE} "Quillon 使用说明"
LangString ShortcutReadMe ${LANG_ENGLISH} "How to use Quillon"
LangString FilesKept ${LANG_SIMPCHINESE} "文件夹 $INSTDIR 中还有其他文件，已保留。"
LangString FilesKept ${LANG_ENGLISH} "The folder $INSTDIR holds other files; it was kept."
LangString FinishText ${LANG_SIMPCHINESE} "Quillon 已安装。$\r$\n$\r$\n选择磁盘、保存文件、开始扫描，然后点“恢复数据”并选择一个新的空文件夹：Quillon 把找到的数据表写入其中，并在浏览器中打开恢复报告 report.html。请把结果保存到另一块硬盘或 U 盘上。"
LangString FinishText ${LANG_ENGLISH} "Quillon is installed.$\r$\n$\r$\nDisk, Save, Start; then Recover (恢复数据 on a Chinese system) with a new, empty folder: Quillon writes the tables it finds there and opens the recovery report, report.html, in your browser. Save the results on another disk or a USB stick."

; Sets the "run as administrator" flag (SLDF_RUNAS_USER, 0x2000 of the link flags at offset
; 0x14) of the shell link FILE: Windows then asks for the rights each time it is started.
!macro SetRunAsAdministrator FILE
  ClearErrors
  FileOpen $1 "${FILE}" a
  ${IfNot} ${Errors}
    FileSeek $1 0x15 SET
    FileReadByte $1 $2
    IntOp $2 $2 | 0x20
    FileSeek $1 0x15 SET
    FileWriteByte $1 $2
    FileClose $1
  ${EndIf}
!macroend

; Chinese for every Chinese display language, traditional ones too (their primary language
; is Chinese as well), as the programs choose; NSIS itself would match only the simplified.
!macro ChooseLanguage
  System::Call 'kernel32::GetUserDefaultUILanguage() i .r0'
  IntOp $0 $0 & 0x3FF  ; PRIMARYLANGID
  ${If} $0 = 0x04      ; LANG_CHINESE
    StrCpy $LANGUAGE ${LANG_SIMPCHINESE}
  ${EndIf}
!macroend

Function .onInit
  !insertmacro ChooseLanguage
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "$(NeedAdmin)" /SD IDOK
    SetErrorLevel 740  ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
  !if "${ARCH}" == "win64"
    SetRegView 64
  !endif
FunctionEnd

Section "Quillon"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\quillon.exe"
  File "${STAGE}\quillon-cli.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSES.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${START_FOLDER}"
  StrCpy $0 "$SMPROGRAMS\${START_FOLDER}\Quillon.lnk"
  ClearErrors
  CreateShortcut "$0" "$INSTDIR\quillon.exe" "" "$INSTDIR\quillon.exe" 0 SW_SHOWNORMAL "" \
    "$(ShortcutProgram)"
  ${If} ${Errors}
    DetailPrint "$(ShortcutFailed)"
  ${Else}
    !insertmacro SetRunAsAdministrator "$0"
  ${EndIf}
  CreateShortcut "$SMPROGRAMS\${START_FOLDER}\README.lnk" "$INSTDIR\README.txt" "" "" 0 \
    SW_SHOWNORMAL "" "$(ShortcutReadMe)"

  ; Add/Remove Programs.
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillon ${VERSION} (${ARCH})"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quillon"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillon.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "$(RegistryFailed)" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
SectionEnd

Function un.onInit
  !insertmacro ChooseLanguage
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "$(NeedAdmin)" /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
  !if "${ARCH}" == "win64"
    SetRegView 64
  !endif
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${START_FOLDER}\Quillon.lnk"
  Delete "$SMPROGRAMS\${START_FOLDER}\README.lnk"
  RMDir "$SMPROGRAMS\${START_FOLDER}"
  ; Only the files the installer put there: the folder may have been chosen by hand and
  ; hold other files (a fragment file saved beside the program, say), which stay.
  Delete "$INSTDIR\quillon.exe"
  Delete "$INSTDIR\quillon-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSES.txt"
  Delete "$INSTDIR\uninstall.exe"
  ClearErrors
  RMDir "$INSTDIR"
  ${If} ${Errors}
    DetailPrint "$(FilesKept)"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
