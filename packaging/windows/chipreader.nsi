; The Windows installer of Chip Reader, for either target:
;   makensis -DTARGET=amd64-unicode|x86-unicode -DPROGRAM=path/to/chipreader.exe \
;            -DVERSION=0.1.0 -DOUTFILE=path/to/chipreader-setup.exe packaging/windows/chipreader.nsi
; Installs the program into Program Files, a Start-menu entry "Chip Reader"
; whose working folder is the user's "Chip Reader" folder in the roaming
; application data (the settings file and the logs go there; made when
; missing), and an uninstaller that leaves that folder alone.
; Silent: chipreader-setup.exe /S, and uninstall.exe /S in the program folder.
Unicode true
Target ${TARGET}
Name "Chip Reader"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ChipReader"
!if "${TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\Chip Reader"
  !define REGISTRY_VIEW 64
!else
  InstallDir "$PROGRAMFILES\Chip Reader"
  !define REGISTRY_VIEW 32
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetRegView ${REGISTRY_VIEW}
  SetOutPath "$INSTDIR"
  File "/oname=chipreader.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut takes the output folder as its working folder.
  SetShellVarContext current
  CreateDirectory "$APPDATA\Chip Reader"
  SetOutPath "$APPDATA\Chip Reader"
  CreateShortcut "$SMPROGRAMS\Chip Reader.lnk" "$INSTDIR\chipreader.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Chip Reader"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\chipreader.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The operator's settings and logs in $APPDATA\Chip Reader stay.
Section Uninstall
  SetRegView ${REGISTRY_VIEW}
  SetShellVarContext current
  Delete "$SMPROGRAMS\Chip Reader.lnk"
  Delete "$INSTDIR\chipreader.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
