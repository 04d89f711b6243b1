  ; The bridge of the user who installs it: its working directory (terminal.cfg, kvbridge.log)
  ; in the user's own application data, and its link in the Start menu folder chosen, which
  ; starts it there.
  SetShellVarContext current
  CreateDirectory "$LOCALAPPDATA\kvbridge"
  SetOutPath "$LOCALAPPDATA\kvbridge"
  !insertmacro MUI_STARTMENU_WRITE_BEGIN Application
    CreateDirectory "$SMPROGRAMS\$StartMenuFolder"
    CreateShortCut "$SMPROGRAMS\$StartMenuFolder\Kordavo – řídící jednotka.lnk" "$INSTDIR\kvbridge.exe" "" "$INSTDIR\kvbridge.exe" 0
  !insertmacro MUI_STARTMENU_WRITE_END
  SetOutPath "$INSTDIR"
