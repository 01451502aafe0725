; Configurations: the accessors on every kind of header, the constructor
; list of configured objects, property search in the three inheritance
; modes, naming, finding an object's own configuration, and closing.
(define (list . _xs) _xs)                   ; expect: list
(obj-root (define (print-self) "#<object>")) ; expect: print-self
; Headers: a tag names itself; :initargs has no name; a list holds type,
; name and owner; a tag has no owner.
(list (tag? 'ok) (tag? 7) (tag? "ok") (tag? '(a))) ; expect: (t t () ())
(list (header-type 'ok) (header-name 'ok) (header-owner 'ok)) ; expect: (() ok ())
(list (header-type :initargs) (header-name :initargs) (header-owner :initargs)) ; expect: (() () ())
(list (header-type '(button ok win)) (header-name '(button ok win)) (header-owner '(button ok win))) ; expect: (button ok win)
(define c (list '(button ok win) '(:title "T") '((a () ())) '(p1) '(p2))) ; expect: c
(list (config-type c) (config-name c) (config-owner c)) ; expect: (button ok win)
(list (config-properties c) (config-children c) (config-pages c)) ; expect: ((:title "T") ((a () ())) ((p1) (p2)))
(list (config-header ()) (config-properties ()) (config-children ()) (config-pages ())) ; expect: (() () () ())
(set-config-properties c '(:x 1))
(set-config-pages c '((p3)))
(list (config-properties c) (config-pages c)) ; expect: ((:x 1) ((p3)))
(set-config-children '(h) ())               ; expect error: 2 (h)
; A configured class: slots initialised from the constructor list.
(define Box (new-class 'Box obj-interface)) ; expect: Box
(Box (defslot name) (defslot title :initialize? t :default "none") (defslot label :initialize? t :default "") (defslot parent) (defslot configuration)) ; expect: configuration
(define b (make-instance Box))              ; expect: b
(b (object-opened?))                                 ; expect: ()
(send b get-constructor)                    ; expect error: 2 #<object>
(send b show)                               ; expect error: 2 #<object>
(send b set-name 'early)                    ; expect: early
(send b link-object)
(b (object-opened?))                                 ; expect: t
(send b enabled?)                           ; expect: t
(send b get-title)                          ; expect: ()
; Initialisation arguments: a plain key and a path key.
(send b setup-constructor '(:title "Hello" (ok :label) "Yes"))
(send b get-constructor)                    ; expect: ((:initargs (:title "Hello") ((ok (:label "Yes") ()))))
(send b search-constructor :title)          ; expect: (:title "Hello")
(send b search-constructor :nothing)        ; expect: ()
(send b search-property 'title)             ; expect: "Hello"
(send b search-property 'label)             ; expect: ""
(b (initialize-setable-slots) title)        ; expect: "Hello"
; Class configurations in the three modes of inherit-configuration?.
(define Panel (new-class 'Panel obj-interface)) ; expect: Panel
(Panel (defslot configuration :default '(panel (:title "panel" :size 1) ())) (defslot inherit-configuration?) (defslot owners-inited? :default t) (defslot size :initialize? t :default 0) (defslot title :initialize? t :default "")) ; expect: title
(define Sub (new-class 'Sub Panel))         ; expect: Sub
(Sub (defslot configuration :default '(sub (:title "sub") ()))) ; expect: configuration
(define p (make-instance Sub))              ; expect: p
(send p link-object)
(send p setup-constructor ())
(send p get-constructor)                    ; expect: ((sub (:title "sub") ()))
(p (eq? configuration (Sub configuration))) ; expect: ()
(p configuration)                           ; expect: ()
(p (set! inherit-configuration? t))         ; expect: t
(send p setup-constructor ())
(list (send p search-property 'title) (send p search-property 'size)) ; expect: ("sub" 1)
(p (set! inherit-configuration? 'reverse))  ; expect: reverse
(send p setup-constructor ())
(send p get-constructor)                    ; expect: ((panel (:title "panel" :size 1) ()) (sub (:title "sub") ()))
(send p search-property 'title)             ; expect: "panel"
; The instance's own configuration comes before its class's and names it.
(p (set! configuration '((panel mine) (:title "own") ())) (set! inherit-configuration? ())) ; expect: ()
(send p setup-name ())
(send p get-name)                           ; expect: mine
(send p setup-constructor '(:size 9))
(send p get-constructor)                    ; expect: ((:initargs (:size 9) ()) ((panel mine) (:title "own") ()) (sub (:title "sub") ()))
(list (send p search-property 'title) (send p search-property 'size)) ; expect: ("own" 9)
; Naming: a name already set stays; :name wins over the configuration,
; standard-name comes last.
(send p setup-name '(:name other))
(send p get-name)                           ; expect: mine
(p (set! name ()))                          ; expect: ()
(send p setup-name '(:name other))
(send p get-name)                           ; expect: other
(Sub (define standard-name 'std))           ; expect: standard-name
(p (set! name ()) (set! configuration ())) ; expect: ()
(send p setup-name ())
(send p get-name)                           ; expect: std
; Finding an object's own configuration among children: by the creator,
; by a header identical to the name, by a header's name.
(define kids '((one (:a 1) ()) ((button two) (:a 2) ()) (three (:a 3) ()))) ; expect: kids
(p (set! name 'three))                      ; expect: three
(send p find-self-config kids)              ; expect: (three (:a 3) ())
(p (set! name 'two))                        ; expect: two
(send p find-self-config kids)              ; expect: ((button two) (:a 2) ())
(p (set! name 'none))                       ; expect: none
(send p find-self-config kids)              ; expect: ()
(define config-creator (car kids))          ; expect: config-creator
(send p find-self-config kids)              ; expect: (one (:a 1) ())
(define config-creator ())                  ; expect: config-creator
; A child finds its configuration in its parent's constructor list.
(define Button (new-class 'Button obj-interface)) ; expect: Button
(Button (defslot name) (defslot parent) (defslot page-parent) (defslot label :initialize? t :default "?")) ; expect: label
(define w (make-instance Box))              ; expect: w
(send w link-object)
(send w setup-constructor '((ok :label) "Fine"))
(define k (make-instance Button))           ; expect: k
(k (set! name 'ok) (set! parent w))         ; expect: #<object>
(send k link-object)
(send k setup-constructor ())
(send k get-constructor)                    ; expect: ((ok (:label "Fine") ()))
(k (initialize-setable-slots) label)        ; expect: "Fine"
; A parent that is not opened is refused.
(k (set! parent (make-instance Box)))       ; expect: #<object>
(send k setup-constructor ())               ; expect error: 2 #<object>
(k (set! parent 5))                         ; expect: 5
(send k setup-constructor ())               ; expect error: 2 5
; A page parent: the parent's find-page-constructor answers the page's
; configurations after a first element; anything but a list is refused.
(define paged '(skipped (pg () ((ok (:label "Paged") ()))))) ; expect: paged
(Box (define (find-page-constructor _page) (if (eq? _page 'bad) 5 paged))) ; expect: find-page-constructor
(k (set! parent w) (set! page-parent 'pg))  ; expect: pg
(send k setup-constructor ())
(send k get-constructor)                    ; expect: ((ok (:label "Paged") ()))
(k (set! page-parent 'bad))                 ; expect: bad
(send k setup-constructor ())               ; expect error: 2 5
; Closing frees the record and kills its box; a collection after it runs
; clean, and the object answers error 2 until it is opened again.
(send k close-link)
(k (object-opened?))                                 ; expect: ()
(length (test-collect))                     ; expect: 5
(send k get-constructor)                    ; expect error: 2 #<object>
(send k close-link)                         ; expect error: 2 #<object>
(send k link-object)
(send k get-constructor)                    ; expect: ()
