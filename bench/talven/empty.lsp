; Start-up of an empty program.
(princ 0)
