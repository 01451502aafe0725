(display 0) (newline)
