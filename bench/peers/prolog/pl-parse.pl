% An arithmetic expression of 421 tokens parsed and evaluated by a grammar
% over difference lists, 2,000 times through a failure-driven loop.
expr(V, S0, S) :- term(T, S0, S1), expr_rest(T, V, S1, S).
expr_rest(A, V, [plus|S1], S) :- term(T, S1, S2), A1 is A + T, expr_rest(A1, V, S2, S).
expr_rest(A, V, [minus|S1], S) :- term(T, S1, S2), A1 is A - T, expr_rest(A1, V, S2, S).
expr_rest(V, V, S, S).
term(V, S0, S) :- factor(F, S0, S1), term_rest(F, V, S1, S).
term_rest(A, V, [times|S1], S) :- factor(F, S1, S2), A1 is A * F, term_rest(A1, V, S2, S).
term_rest(V, V, S, S).
factor(N, [N|S], S) :- integer(N).
factor(V, [open|S0], S) :- expr(V, S0, [close|S]).
chunk(I, [I, plus, 2, times, open, 3, minus, 4, close, times, 5, minus, open, 6, plus, 7, times, open, 8, minus, 9, close, close, plus]).
tokens(0, [1]) :- !.
tokens(N, T) :- chunk(N, C), N1 is N - 1, tokens(N1, R), append(C, R, T).
bench(K, T) :- between(1, K, _), expr(V, T, []), retract(value(_)), assertz(value(V)), fail.
bench(_, _).
:- dynamic(value/1).
value(0).
main :- tokens(20, T), bench(2000, T), value(V), write(V), nl, halt.
:- initialization(main).
