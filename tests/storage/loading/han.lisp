; -*- coding: utf-8 -*-
(define before-han 1)
(define han "漢")
