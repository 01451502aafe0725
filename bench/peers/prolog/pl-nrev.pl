% Naive reverse of a 30-element list, 11,000 times through a
% failure-driven loop (496 logical inferences each).
app([], L, L).
app([H|T], L, [H|R]) :- app(T, L, R).
nrev([], []).
nrev([H|T], R) :- nrev(T, RT), app(RT, [H], R).
range(N, N, [N]).
range(I, N, [I|T]) :- I < N, I1 is I + 1, range(I1, N, T).
bench(K, L) :- between(1, K, _), nrev(L, _), fail.
bench(_, _).
main :- range(1, 30, L), bench(11000, L), nrev(L, [X|_]), write(X), nl, halt.
:- initialization(main).
