not a module at all
