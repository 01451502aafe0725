; Linked slots resolve lazily: through the slot's linker, once, or through
; find-link, keeping the key until it resolves.
(define (list . _xs) _xs)                   ; expect: list
(obj-root (define (print-self) "#<object>")) ; expect: print-self
(define calls 0)                            ; expect: calls
(define (fetch _key) (set! calls (+ calls 1)) (list 'fetched _key)) ; expect: fetch
(define Doc (new-class 'Doc))               ; expect: Doc
(Doc (defslot page :link? t :linker fetch :default 'p7)) ; expect: page
(define d (make-instance Doc))              ; expect: d
(d (linked? 'page))                         ; expect: ()
(d page)                                    ; expect: (fetched p7)
(d page)                                    ; expect: (fetched p7)
calls                                       ; expect: 1
(d (list (get-reference 'page) (linked? 'page))) ; expect: (p7 t)
(d (set! page 'other) (list page (get-reference 'page))) ; expect: (other p7)
(d (reset-link 'page) (linked? 'page))      ; expect: ()
(d page)                                    ; expect: (fetched p7)
calls                                       ; expect: 2
; Without a linker: find-link, which may not find the target yet.
(define Named (new-class 'Named))           ; expect: Named
(Named (defslot name :default 'target))     ; expect: name
(define found ())                           ; expect: found
(define (find-link _key _slot) (if (eq? _key 'target) found ())) ; expect: find-link
(define Ref (new-class 'Ref))               ; expect: Ref
(Ref (defslot peer :link? t :default 'target)) ; expect: peer
(define r (make-instance Ref))              ; expect: r
(r peer)                                    ; expect: ()
(r (get-reference 'peer))                   ; expect: target
(set! found (make-instance Named))          ; expect: #<object>
(eq? (r peer) found)                        ; expect: t
(r (list (linked? 'peer) (get-reference 'peer))) ; expect: (t target)
