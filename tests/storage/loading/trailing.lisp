(define trailing 1)   

  ; the end
   