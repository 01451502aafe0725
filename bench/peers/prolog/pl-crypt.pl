% SEND + MORE = MONEY, column by column with carries, every solution
% searched 200 times through a failure-driven loop.
sel(X, [X|T], T).
sel(X, [H|T], [H|R]) :- sel(X, T, R).
puzzle(S, E, N, D, M, O, R, Y) :-
    sel(D, [0,1,2,3,4,5,6,7,8,9], L1),
    sel(E, L1, L2),
    Y is (D + E) mod 10, C1 is (D + E) // 10,
    sel(Y, L2, L3),
    sel(N, L3, L4),
    sel(R, L4, L5),
    E =:= (N + R + C1) mod 10, C2 is (N + R + C1) // 10,
    sel(O, L5, L6),
    N =:= (E + O + C2) mod 10, C3 is (E + O + C2) // 10,
    sel(S, L6, L7), S > 0,
    sel(M, L7, _), M > 0,
    O =:= (S + M + C3) mod 10, M =:= (S + M + C3) // 10.
:- dynamic(found/1).
found(0).
solve_all :- puzzle(_, E, N, _, M, O, _, _), retract(found(F)),
    F1 is F + 1000 * M + 100 * O + 10 * N + E, assertz(found(F1)), fail.
solve_all.
main :- (between(1, 200, _), solve_all, fail ; true), found(F), write(F), nl, halt.
:- initialization(main).
