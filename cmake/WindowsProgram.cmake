# The Windows program: Quorvane.exe (added with the window).
