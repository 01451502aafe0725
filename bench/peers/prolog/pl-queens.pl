% Every solution of the 8 queens problem, 100 times, counted by a
% failure-driven loop.
sel(X, [X|T], T).
sel(X, [H|T], [H|R]) :- sel(X, T, R).
safe(_, _, []).
safe(Q, D, [Q1|Qs]) :- Q =\= Q1 + D, Q =\= Q1 - D, D1 is D + 1, safe(Q, D1, Qs).
place([], Qs, Qs).
place(U, S, Qs) :- sel(Q, U, R), safe(Q, 1, S), place(R, [Q|S], Qs).
queens(Qs) :- place([1,2,3,4,5,6,7,8], [], Qs).
:- dynamic(counter/1).
counter(0).
count_queens :- queens(_), retract(counter(C)), C1 is C + 1, assertz(counter(C1)), fail.
count_queens.
main :- (between(1, 100, _), count_queens, fail ; true), counter(C), write(C), nl, halt.
:- initialization(main).
