% Every path without a repeated node between opposite corners of a 5 by 5
% grid (8,512 of them), found by a depth-first search that keeps a visited
% list, counted 3 times. The grid's 80 edges are facts, found by their
% first argument.
:- dynamic(edge/2).
grid_edges(N) :- M is N * N, between(1, M, I), grid_edge(N, M, I), fail.
grid_edges(_).
grid_edge(N, M, I) :-
    ( I mod N > 0 -> J1 is I + 1, assertz(edge(I, J1)) ; true ),
    ( I mod N =\= 1 -> J2 is I - 1, assertz(edge(I, J2)) ; true ),
    ( I + N =< M -> J3 is I + N, assertz(edge(I, J3)) ; true ),
    ( I > N -> J4 is I - N, assertz(edge(I, J4)) ; true ).
path(Y, Y, _).
path(X, Y, V) :- X \== Y, edge(X, Z), \+ memberchk(Z, V), path(Z, Y, [Z|V]).
count(K, C) :- findall(x, (between(1, K, _), path(1, 25, [1])), L), length(L, C).
main :- grid_edges(5), count(3, C), write(C), nl, halt.
:- initialization(main).
