stand-in for autoexec.bat
