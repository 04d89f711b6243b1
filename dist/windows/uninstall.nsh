  ; The links of the user who installed it, and the working directory when it holds nothing
  ; (a configuration and a log stay for the next installation).
  SetShellVarContext current
  !insertmacro MUI_STARTMENU_GETFOLDER Application $0
  Delete "$SMPROGRAMS\$0\Kordavo – řídící jednotka.lnk"
  RMDir "$SMPROGRAMS\$0"
  Delete "$SMSTARTUP\Kordavo – řídící jednotka.lnk"
  RMDir "$LOCALAPPDATA\kvbridge"
