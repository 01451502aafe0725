; The rules of the puzzle as clauses, and the search for a solution.
;
; A board is a list of nine numbers read row by row, 0 for the gap. A move
; names the cell whose tile slides into the gap.
(defclause (eq _a _a))

; Cells side by side on the 3 by 3 board.
(defclause (adjacent 0 1)) (defclause (adjacent 0 3)) (defclause (adjacent 1 0)) (defclause (adjacent 1 2))
(defclause (adjacent 1 4)) (defclause (adjacent 2 1)) (defclause (adjacent 2 5)) (defclause (adjacent 3 0))
(defclause (adjacent 3 4)) (defclause (adjacent 3 6)) (defclause (adjacent 4 1)) (defclause (adjacent 4 3))
(defclause (adjacent 4 5)) (defclause (adjacent 4 7)) (defclause (adjacent 5 2)) (defclause (adjacent 5 4))
(defclause (adjacent 5 8)) (defclause (adjacent 6 3)) (defclause (adjacent 6 7)) (defclause (adjacent 7 4))
(defclause (adjacent 7 6)) (defclause (adjacent 7 8)) (defclause (adjacent 8 5)) (defclause (adjacent 8 7))

(defclause (goal (1 2 3 4 5 6 7 8 0)))

(define (gap-of _board) (let ((_i 0)) (while (/= (list-ref _board _i) 0) (set! _i (+ _i 1))) _i))
(define (swapped _board _p _q)
  (let ((_i -1))
    (map (lambda (_x)
           (set! _i (+ _i 1))
           (cond ((= _i _p) (list-ref _board _q)) ((= _i _q) (list-ref _board _p)) (t _x)))
         _board)))

; (step B Q N): sliding the tile at Q into the gap of B gives N.
(defclause (step _b _q _n) (eq _p (gap-of _b)) (adjacent _p _q) (eq _n (swapped _b _p _q)))

; (solve B D MOVES): MOVES, at most D of them, put B in order, never
; sliding back the tile just moved. The newest clause is tried first: the
; board already in order before any move.
(defclause (solve-from _b _d _last (_q . _qs))
  (> _d 0) (step _b _q _n) (not (eq _q _last)) (solve-from _n (- _d 1) (gap-of _b) _qs))
(defclause (solve-from _b _d _last ()) (goal _b))
(defclause (solve _b _d _moves) (solve-from _b _d -1 _moves))

; The shortest solution of at most `limit` moves, by deepening the search
; one move at a time: a list of moves, or 'none.
(define (solution _board _limit)
  (let ((_depth 0) (_found 'none))
    (while (and (eq? _found 'none) (<= _depth _limit))
      (when (solve _board _depth _moves) (set! _found _moves))
      (set! _depth (+ _depth 1)))
    _found))
