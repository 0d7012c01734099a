"""The README's examples, run as written: the blocks the README holds, the world
they run in (host names, servers, a user and a home) and what each block gives."""
