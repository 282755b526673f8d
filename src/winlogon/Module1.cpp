// Module1: written with the loading and saving work.
