; -*- coding: utf-8 -*-
(define utf8-text "café €")
