; The Windows installer of Chip Reader, for either target:
;   makensis -DTARGET=amd64-unicode|x86-unicode -DPROGRAM=path/to/chipreader.exe \
;            -DREADME=packaging/windows/README.txt -DVERSION=0.1.0 \
;            -DSITE_EXAMPLE=path/to/site.ini.example \
;            -DOUTFILE=path/to/chipreader-setup.exe packaging/windows/chipreader.nsi
; (scripts/package-windows does this for both targets.)
; Installs the program into Program Files, a Start-menu entry "Chip Reader"
; for every user of the machine, and an uninstaller. The entry starts the
; program with /folder "%APPDATA%\Chip Reader": each user's own folder in the
; roaming application data, which the program makes at its first start (the
; settings file and the logs go there). A shortcut's working folder must exist
; before the program starts, so it is the program's own folder. The
; uninstaller leaves the users' folders alone.
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
  File "/oname=README.txt" "${README}"
  ; Copied as site.ini into a user's folder, it has readings published to
  ; the site's broker.
  File "/oname=site.ini.example" "${SITE_EXAMPLE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The entry of an earlier version, for the installing user only, goes.
  SetShellVarContext current
  Delete "$SMPROGRAMS\Chip Reader.lnk"
  ; The shortcut takes the output folder as its working folder. %APPDATA% is
  ; written as it stands, for each user's own.
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Chip Reader.lnk" "$INSTDIR\chipreader.exe" \
    '/folder "%APPDATA%\Chip Reader"'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Chip Reader"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\chipreader.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The operators' settings and logs in their %APPDATA%\Chip Reader stay.
Section Uninstall
  SetRegView ${REGISTRY_VIEW}
  SetShellVarContext all
  Delete "$SMPROGRAMS\Chip Reader.lnk"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Chip Reader.lnk"
  Delete "$INSTDIR\chipreader.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\site.ini.example"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
