; Installer of the scale driver and the configuration tool.
;
;   makensis -DVERSION=a.b.c.d -DSTAGE=DIR -DOUTFILE=FILE OstrelPesolink.nsi
;
; STAGE holds x64/ and x86/, each with OstrelPesolink.dll, Pesoconf.exe,
; pesolink.exe, help.htm and bg.bmp (scripts/dist.sh lays it out).
;
; Per user by default: files in %LocalAppData%\Programs\OstrelPesolink, the
; driver registered in the user's classes (DllInstall "user"), no
; administrator rights needed. Per machine when run elevated: files in
; Program Files, the driver registered in the machine's classes. On 64-bit
; Windows both drivers are installed, each registered in its own registry
; view, so 32-bit and 64-bit clients both find theirs.
;
; Command line (besides NSIS's /S and /D=):
;   /CURRENTUSER  per user even when elevated
;   /ALLUSERS     per machine; fails with exit code 740 when not elevated
; The uninstaller takes the same switches and otherwise finds out by itself
; which kind of installation it belongs to.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=a.b.c.d)"
!endif
!ifndef STAGE
  !error "STAGE is not defined (makensis -DSTAGE=folder of the files to install)"
!endif
!ifndef OUTFILE
  !define OUTFILE "OstrelPesolink-${VERSION}-setup.exe"
!endif

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define PRODUCT "OstrelPesolink"
!define PUBLISHER "Ostrel"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define MENU_FOLDER "${PRODUCT}"
!define CLSID "{247CDF44-C023-4103-B15A-79EC87E06591}"
!define PROGID "OstrelPesolink.Scales"
!define LIBID "{0ECE549C-A213-4931-AC3D-3CE991362149}"
!define IID "{10562340-B522-423D-A28D-269CCD5BD2CF}"
; Windows' code for "the requested operation requires elevation".
!define ERROR_ELEVATION_REQUIRED 740

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; "user" or "machine".
Var Mode

; ---- choosing the kind of installation -----------------------------------------

; Sets Mode from the command line and the process's rights, then the shell
; folders, the registry view and the default folder to match.
!macro ChooseMode un
Function ${un}ChooseMode
  ${GetParameters} $R0
  UserInfo::GetAccountType
  Pop $R1
  ${If} $R1 == "Admin"
    StrCpy $Mode "machine"
  ${Else}
    StrCpy $Mode "user"
  ${EndIf}
  !if "${un}" == "un."
    ; An uninstaller started without a switch belongs to the machine's
    ; installation only if that one lives where the uninstaller does.
    ${If} $Mode == "machine"
      ${If} ${RunningX64}
        SetRegView 64
      ${EndIf}
      ReadRegStr $R3 HKLM "${UNINST_KEY}" "InstallLocation"
      SetRegView default
      ${If} $R3 != $INSTDIR
        StrCpy $Mode "user"
      ${EndIf}
    ${EndIf}
  !endif
  ClearErrors
  ${GetOptions} $R0 "/CURRENTUSER" $R2
  ${IfNot} ${Errors}
    StrCpy $Mode "user"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R2
  ${IfNot} ${Errors}
    ${If} $R1 != "Admin"
      MessageBox MB_ICONSTOP "Installing for all users of this computer needs administrator rights: run this program as administrator, or without /ALLUSERS for the current user only." /SD IDOK
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
      Quit
    ${EndIf}
    StrCpy $Mode "machine"
  ${EndIf}

  ${If} $Mode == "machine"
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  ; The uninstall entry and the installer's own keys in the native view.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  !if "${un}" == ""
    ${If} $INSTDIR == ""
      ${If} $Mode == "machine"
        ${If} ${RunningX64}
          StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        ${Else}
          StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
        ${EndIf}
      ${Else}
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
      ${EndIf}
    ${EndIf}
  !endif
FunctionEnd
!macroend
!insertmacro ChooseMode ""
!insertmacro ChooseMode "un."

; ---- registration ---------------------------------------------------------------
; Registration runs in a regsvr32 of the DLL's own bitness, so that each
; registration lands in the registry view of its clients: the installer is
; a 32-bit program, $SYSDIR is SysWOW64 for it on 64-bit Windows, Sysnative
; the 64-bit system folder.

; Registers the DLL at $1 with the regsvr32 at $2, or unregisters it when
; Unregistering is 1; leaves regsvr32's exit code in $0.
Var Unregistering
!macro RegServerCall un
Function ${un}RegServerCall
  ${If} $Mode == "user"
    StrCpy $3 '/s /n /i:user'
  ${Else}
    StrCpy $3 '/s'
  ${EndIf}
  ${If} $Unregistering == 1
    StrCpy $3 '/u $3'
  ${EndIf}
  DetailPrint '"$2" $3 "$1"'
  ClearErrors
  ExecWait '"$2" $3 "$1"' $0
  ${If} ${Errors}
    StrCpy $0 "-1"
  ${EndIf}
  DetailPrint "exit code $0"
FunctionEnd
!macroend
!insertmacro RegServerCall ""
!insertmacro RegServerCall "un."

Function RegisterAll
  StrCpy $Unregistering 0
  ; The 32-bit driver first: where a system keeps one classes view for both
  ; bitnesses, the native driver's registration is the one that stays.
  ${If} ${RunningX64}
    StrCpy $1 "$INSTDIR\x86\OstrelPesolink.dll"
    StrCpy $2 "$SYSDIR\regsvr32.exe"
    Call RegServerCall
    ${If} $0 != 0
      Return
    ${EndIf}
    StrCpy $1 "$INSTDIR\OstrelPesolink.dll"
    StrCpy $2 "$WINDIR\Sysnative\regsvr32.exe"
    Call RegServerCall
  ${Else}
    StrCpy $1 "$INSTDIR\OstrelPesolink.dll"
    StrCpy $2 "$SYSDIR\regsvr32.exe"
    Call RegServerCall
  ${EndIf}
FunctionEnd

; Deletes the driver's keys in the classes root of Mode and the registry
; view set by the caller: what a regsvr32 that could not run the DLL (a
; damaged or missing file) has left behind.
!macro DeleteClassKeys un
Function ${un}DeleteClassKeys
  ${If} $Mode == "user"
    StrCpy $4 "Software\Classes"
    DeleteRegKey HKCU "$4\CLSID\${CLSID}"
    DeleteRegKey HKCU "$4\${PROGID}"
    DeleteRegKey HKCU "$4\TypeLib\${LIBID}"
    DeleteRegKey HKCU "$4\Interface\${IID}"
  ${Else}
    StrCpy $4 "Software\Classes"
    DeleteRegKey HKLM "$4\CLSID\${CLSID}"
    DeleteRegKey HKLM "$4\${PROGID}"
    DeleteRegKey HKLM "$4\TypeLib\${LIBID}"
    DeleteRegKey HKLM "$4\Interface\${IID}"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DeleteClassKeys ""
!insertmacro DeleteClassKeys "un."

; Unregisters every installed driver, the native one first (the reverse of
; RegisterAll). A driver that cannot be unregistered by regsvr32 has its
; keys deleted directly. $5 ends as 0 when every regsvr32 succeeded.
!macro UnregisterAll un
Function ${un}UnregisterAll
  StrCpy $Unregistering 1
  StrCpy $5 0
  ${If} ${RunningX64}
    ${If} ${FileExists} "$INSTDIR\OstrelPesolink.dll"
      StrCpy $1 "$INSTDIR\OstrelPesolink.dll"
      StrCpy $2 "$WINDIR\Sysnative\regsvr32.exe"
      Call ${un}RegServerCall
      ${If} $0 != 0
        StrCpy $5 $0
      ${EndIf}
    ${EndIf}
    SetRegView 64
    Call ${un}DeleteClassKeysIfFailed
    ${If} ${FileExists} "$INSTDIR\x86\OstrelPesolink.dll"
      StrCpy $1 "$INSTDIR\x86\OstrelPesolink.dll"
      StrCpy $2 "$SYSDIR\regsvr32.exe"
      Call ${un}RegServerCall
      ${If} $0 != 0
        StrCpy $5 $0
      ${EndIf}
    ${EndIf}
    SetRegView 32
    Call ${un}DeleteClassKeysIfFailed
    SetRegView 64
    ; Each driver keeps the interface's keys while the other is registered:
    ; when one half had to be deleted directly, those of the other view
    ; may still be there, and neither driver is registered now.
    ${If} $5 != 0
      ${If} $Mode == "user"
        DeleteRegKey HKCU "Software\Classes\Interface\${IID}"
      ${Else}
        DeleteRegKey HKLM "Software\Classes\Interface\${IID}"
      ${EndIf}
    ${EndIf}
  ${Else}
    ${If} ${FileExists} "$INSTDIR\OstrelPesolink.dll"
      StrCpy $1 "$INSTDIR\OstrelPesolink.dll"
      StrCpy $2 "$SYSDIR\regsvr32.exe"
      Call ${un}RegServerCall
      ${If} $0 != 0
        StrCpy $5 $0
      ${EndIf}
    ${EndIf}
    Call ${un}DeleteClassKeysIfFailed
  ${EndIf}
FunctionEnd

; Only when the last regsvr32 failed: its keys may still point at the file.
Function ${un}DeleteClassKeysIfFailed
  ${If} $0 != 0
    DetailPrint "deleting the driver's registry keys directly"
    Call ${un}DeleteClassKeys
  ${EndIf}
FunctionEnd
!macroend
!insertmacro UnregisterAll ""
!insertmacro UnregisterAll "un."

; ---- files ---------------------------------------------------------------------

!macro RemoveFiles
  Delete /REBOOTOK "$INSTDIR\OstrelPesolink.dll"
  Delete /REBOOTOK "$INSTDIR\x86\OstrelPesolink.dll"
  Delete /REBOOTOK "$INSTDIR\Pesoconf.exe"
  Delete /REBOOTOK "$INSTDIR\pesolink.exe"
  Delete "$INSTDIR\help.htm"
  Delete "$INSTDIR\bg.bmp"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\x86"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${MENU_FOLDER}\Pesoconf.lnk"
  RMDir "$SMPROGRAMS\${MENU_FOLDER}"
!macroend

Function .onInit
  Call ChooseMode
FunctionEnd

Function un.onInit
  Call un.ChooseMode
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${STAGE}/x64/OstrelPesolink.dll"
    File "${STAGE}/x64/Pesoconf.exe"
    File "${STAGE}/x64/pesolink.exe"
    SetOutPath "$INSTDIR\x86"
    File "${STAGE}/x86/OstrelPesolink.dll"
    SetOutPath "$INSTDIR"
  ${Else}
    File "${STAGE}/x86/OstrelPesolink.dll"
    File "${STAGE}/x86/Pesoconf.exe"
    File "${STAGE}/x86/pesolink.exe"
  ${EndIf}
  ; The tool finds its picture and its help page beside itself.
  File "${STAGE}/x64/help.htm"
  File "${STAGE}/x64/bg.bmp"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  Call RegisterAll
  ${If} $0 != 0
    ; Nothing half-installed stays behind.
    DetailPrint "registration failed (exit code $0): removing the installation"
    Call UnregisterAll
    ; The folder cannot go while it is the working folder.
    SetOutPath "$TEMP"
    !insertmacro RemoveFiles
    MessageBox MB_ICONSTOP "The driver could not be registered (regsvr32 exit code $0)." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}

  CreateDirectory "$SMPROGRAMS\${MENU_FOLDER}"
  CreateShortCut "$SMPROGRAMS\${MENU_FOLDER}\Pesoconf.lnk" "$INSTDIR\Pesoconf.exe" "" \
    "$INSTDIR\Pesoconf.exe" 0 SW_SHOWNORMAL "" "Scale configuration"

  ${If} $Mode == "machine"
    StrCpy $6 "/ALLUSERS"
  ${Else}
    StrCpy $6 "/CURRENTUSER"
  ${EndIf}
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT} (scale driver) ${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Pesoconf.exe"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" $6'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" $6 /S'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $7 $8 $9
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $7
SectionEnd

Section "Uninstall"
  Call un.UnregisterAll
  SetOutPath "$TEMP"
  !insertmacro RemoveFiles
  DeleteRegKey SHCTX "${UNINST_KEY}"
  ${If} $5 != 0
    ; Keys were deleted directly; the files are gone all the same.
    DetailPrint "a driver could not be unregistered by regsvr32 (exit code $5)"
  ${EndIf}
SectionEnd
