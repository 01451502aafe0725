; -*- coding: utf-8 -*-
; The greetings of the example application, one per language.
(define Greetings '(("english" . "Hello") ("français" . "Bonjour") ("español" . "¡Hola")))

(define (greeting _language)
  (cdr (assoc _language Greetings)))
