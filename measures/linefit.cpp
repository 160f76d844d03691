// linefit: a program that carries a cache-line query and never runs it.
//
// main returns 0 and prints nothing. Beside it, in cache_ligne.cpp, lives
// nb_entiers_dans_ligne_cache_inf: how many ints fit in a cache line of the
// level that suits a block of a given size. To see the figures it reads:
//             $ getconf -a | grep CACHE
//             $ linefit; echo $?
//             0
int main()
{
    return 0;
}
