; The calendar.
(leap-year? 1500)                 ; expect: t
(leap-year? 2000)                 ; expect: t
(leap-year? 1900)                 ; expect: ()
(leap-year? 1999)                 ; expect: ()
(week-day '(1996 1 1))            ; expect: 2
(week-day '(2001 1 1))            ; expect: 2
(week-day '(1998 12 5))           ; expect: 7
(week-day '(1998 13 5))           ; expect error: 2 13
(week-day '(2000000000 6 1))      ; expect: 5
(end-of-month '(2000 2 10))       ; expect: (2000 2 29 0 0 0 3)
(end-of-month '(1900 2 10 8))     ; expect: (1900 2 28 8 0 0 4)
(end-of-month '(1998 0))          ; expect error: 2 0

; Clock seconds round trip through local time.
(define s (date->time '(1998 12 5 15 4 9)))   ; expect: s
(time->date s)                    ; expect: (1998 12 5 15 4 9 7)
(iudatestring s ())               ; expect: "12/05/98"
(iudatestring s t)                ; expect: "Saturday 05 December 1998"
(iutimestring s t)                ; expect: " 3:04:09 PM "
(iutimestring s ())               ; expect: " 3:04 PM "
(iudatestring (date->time '(2005 12 5)) ())   ; expect: "12/05/05"
(date->time '(2100 1 1))          ; expect error: 2 (2100 1 1)
(time->date "0")                  ; expect error: 2 0
(integer? (tick-count))           ; expect: t
(sleep 1)
