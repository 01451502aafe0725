% The zebra puzzle, solved 100 times through a failure-driven loop.
% A house is h(Colour, Nation, Pet, Drink, Smoke).
member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).
right_of(X, Y, [Y,X|_]).
right_of(X, Y, [_|T]) :- right_of(X, Y, T).
next_to(X, Y, L) :- right_of(X, Y, L).
next_to(X, Y, L) :- right_of(Y, X, L).
zebra(Zebra, Water) :-
    H = [h(_,norwegian,_,_,_), _, h(_,_,_,milk,_), _, _],
    member_(h(red,english,_,_,_), H),
    member_(h(green,_,_,coffee,_), H),
    right_of(h(green,_,_,_,_), h(ivory,_,_,_,_), H),
    member_(h(_,spanish,dog,_,_), H),
    member_(h(yellow,_,_,_,kools), H),
    member_(h(_,ukrainian,_,tea,_), H),
    member_(h(_,_,snails,_,winston), H),
    next_to(h(_,_,_,_,chesterfield), h(_,_,fox,_,_), H),
    next_to(h(_,_,_,_,kools), h(_,_,horse,_,_), H),
    member_(h(_,_,_,orange_juice,lucky), H),
    member_(h(_,japanese,_,_,parliament), H),
    next_to(h(_,norwegian,_,_,_), h(blue,_,_,_,_), H),
    member_(h(_,Zebra,zebra,_,_), H),
    member_(h(_,Water,_,water,_), H).
bench(K) :- between(1, K, _), zebra(_, _), fail.
bench(_).
main :- bench(100), zebra(Z, _), write(Z), nl, halt.
:- initialization(main).
