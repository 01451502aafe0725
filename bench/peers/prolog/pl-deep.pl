% A deterministic recursion 100,000 goals deep, 40 times.
down(N, A, R) :- ( N =:= 0 -> R = A ; N1 is N - 1, A1 is A + 2, down(N1, A1, R) ).
run(1, R) :- !, down(100000, 0, R).
run(K, R) :- down(100000, 0, _), K1 is K - 1, run(K1, R).
main :- run(40, R), write(R), nl, halt.
:- initialization(main).
